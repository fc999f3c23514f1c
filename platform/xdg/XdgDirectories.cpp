#include "platform/xdg/XdgDirectories.hpp"

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace quenlitor::platform::xdg {

namespace {

std::optional<std::filesystem::path> absoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    std::filesystem::path path(value);
    return path.is_absolute() ? std::optional(std::move(path)) : std::nullopt;
}

} // namespace

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

std::filesystem::path configHome() {
    return absoluteFromEnvironment("XDG_CONFIG_HOME").value_or(homeDirectory() / ".config");
}

std::filesystem::path dataHome() {
    return absoluteFromEnvironment("XDG_DATA_HOME").value_or(homeDirectory() / ".local" / "share");
}

std::vector<std::filesystem::path> dataDirs() {
    std::vector<std::filesystem::path> dirs;
    if (const char* value = std::getenv("XDG_DATA_DIRS"); value != nullptr) {
        const std::string_view list(value);
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t end = std::min(list.find(':', start), list.size());
            const std::filesystem::path entry(list.substr(start, end - start));
            if (entry.is_absolute()) {
                dirs.push_back(entry);
            }
            start = end + 1;
        }
    }
    if (dirs.empty()) {
        dirs = {"/usr/local/share", "/usr/share"};
    }
    return dirs;
}

std::optional<std::filesystem::path> runtimeDir() { return absoluteFromEnvironment("XDG_RUNTIME_DIR"); }

std::optional<std::filesystem::path> executableDirectory() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !executable.has_parent_path()) {
        return std::nullopt;
    }
    return executable.parent_path();
}

} // namespace quenlitor::platform::xdg
