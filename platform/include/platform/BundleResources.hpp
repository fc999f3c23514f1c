#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlitor::platform {

// The identifier of an installation that names none; also the single-instance lock's name.
inline constexpr std::string_view defaultApplicationId = "local.quenlitor.midi-texto";

// The application's installed identity and data files.
class BundleResources {
public:
    virtual ~BundleResources() = default;

    // The identifier the application is installed under, if it has one.
    virtual std::optional<std::string> applicationId() const = 0;
    // The file of the resource `name`.`extension`, if the application has it.
    virtual std::optional<std::filesystem::path> resourcePath(std::string_view name, std::string_view extension) const = 0;
    // The whole file at `path`. Throws quenlitor::Error with a readable description on failure.
    virtual std::vector<std::uint8_t> readFile(const std::filesystem::path& path) const = 0;
};

} // namespace quenlitor::platform
