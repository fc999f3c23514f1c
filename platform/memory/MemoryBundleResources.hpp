#pragma once

#include "platform/Error.hpp"
#include "platform/BundleResources.hpp"

#include <cerrno>
#include <map>
#include <new>

namespace quenlitor::platform::memory {

// A bundle whose identifier and resources are set by the test; resources live in memory under
// made-up paths, and reading one can be made to fail.
class MemoryBundleResources final : public BundleResources {
public:
    std::optional<std::string> applicationId() const override { return identifier; }

    std::optional<std::filesystem::path> resourcePath(std::string_view name, std::string_view extension) const override {
        const auto path = pathOf(name, extension);
        return files.contains(path) ? std::optional(path) : std::nullopt;
    }

    std::vector<std::uint8_t> readFile(const std::filesystem::path& path) const override {
        const auto found = files.find(path);
        if (outOfMemory) {
            throw std::bad_alloc();
        }
        if (found == files.end() || readFailure) {
            throw Error("posix", ENOENT, readFailure.value_or("No se encontró el archivo."));
        }
        return found->second;
    }

    void addResource(std::string_view name, std::string_view extension, std::string_view contents) {
        files[pathOf(name, extension)] = std::vector<std::uint8_t>(contents.begin(), contents.end());
    }
    static std::filesystem::path pathOf(std::string_view name, std::string_view extension) {
        return std::filesystem::path("/bundle") / (std::string(name) + "." + std::string(extension));
    }

    std::optional<std::string> identifier;
    std::map<std::filesystem::path, std::vector<std::uint8_t>> files;
    // When set, every read fails with this description.
    std::optional<std::string> readFailure;
    // When set, every read runs out of memory.
    bool outOfMemory = false;
};

} // namespace quenlitor::platform::memory
