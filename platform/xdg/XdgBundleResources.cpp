#include "XdgBundleResources.hpp"

#include "platform/Error.hpp"
#include "platform/xdg/XdgDirectories.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace quenlitor::platform::xdg {

namespace {

[[noreturn]] void throwSystemError(const std::filesystem::path& path, int number) {
    throw Error("posix", number, path.string() + ": " + std::system_category().message(number));
}

// Closes on every way out of readFile.
class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : m_descriptor(descriptor) {}
    ~FileDescriptor() {
        if (m_descriptor >= 0) {
            // Don't retry close on EINTR: the descriptor is released either way on Linux.
            ::close(m_descriptor);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_descriptor; }

private:
    int m_descriptor;
};

} // namespace

XdgBundleResources::XdgBundleResources(std::vector<std::filesystem::path> searchDirectories, std::size_t fileSizeLimit)
    : m_searchDirectories(std::move(searchDirectories)), m_fileSizeLimit(fileSizeLimit) {}

std::vector<std::filesystem::path> XdgBundleResources::defaultSearchDirectories() {
    std::vector<std::filesystem::path> directories;
    const auto add = [&](const std::filesystem::path& directory) {
        const std::filesystem::path normal = directory.lexically_normal();
        if (std::ranges::find(directories, normal) == directories.end()) {
            directories.push_back(normal);
        }
    };
    const auto executableDirectory = xdg::executableDirectory();
    add(xdg::dataHome() / xdg::applicationFolder);
    if (executableDirectory) {
        add(*executableDirectory / ".." / "share" / xdg::applicationFolder);
    }
    for (const std::filesystem::path& dataDir : xdg::dataDirs()) {
        add(dataDir / xdg::applicationFolder);
    }
    if (executableDirectory) {
        add(*executableDirectory);
    }
    return directories;
}

std::optional<std::string> XdgBundleResources::applicationId() const { return std::string(defaultApplicationId); }

std::optional<std::filesystem::path> XdgBundleResources::resourcePath(std::string_view name,
                                                                        std::string_view extension) const {
    const std::string fileName =
        extension.empty() ? std::string(name) : std::string(name) + "." + std::string(extension);
    if (name.empty() || fileName.find('/') != std::string::npos || fileName == "." || fileName == "..") {
        return std::nullopt;
    }
    for (const std::filesystem::path& directory : m_searchDirectories) {
        std::filesystem::path candidate = directory / fileName;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::vector<std::uint8_t> XdgBundleResources::readFile(const std::filesystem::path& path) const {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        throwSystemError(path, errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throwSystemError(path, errno);
    }
    const auto tooLarge = [&] {
        const bool mebibytes = m_fileSizeLimit % (std::size_t{1} << 20) == 0;
        throw Error("posix", EFBIG,
                    path.string() + ": el archivo pasa de " +
                        (mebibytes ? std::to_string(m_fileSizeLimit >> 20) + " MiB" : std::to_string(m_fileSizeLimit) + " bytes") +
                        "; no se lee");
    };
    // A regular file's size is known before reading; a pipe or a device (st_size 0, or
    // endless like /dev/zero) is counted as it arrives.
    const bool regular = S_ISREG(status.st_mode);
    if (regular && static_cast<std::uintmax_t>(status.st_size) > m_fileSizeLimit) {
        tooLarge();
    }
    try {
        std::vector<std::uint8_t> bytes;
        if (regular && status.st_size > 0) {
            bytes.reserve(static_cast<std::size_t>(status.st_size));
        }
        std::uint8_t buffer[65536];
        for (;;) {
            const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
            if (count == 0) {
                return bytes;
            }
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throwSystemError(path, errno);
            }
            if (static_cast<std::size_t>(count) > m_fileSizeLimit - bytes.size()) {
                tooLarge();
            }
            bytes.insert(bytes.end(), buffer, buffer + count);
        }
    } catch (const std::bad_alloc&) {
        throw Error("posix", ENOMEM, path.string() + ": no hay memoria suficiente para leerlo");
    }
}

} // namespace quenlitor::platform::xdg
