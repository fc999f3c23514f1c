#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

// Where a desktop application keeps its files on a free desktop, after the XDG Base Directory
// rules: an environment variable that is unset, empty or not an absolute path is ignored and its
// default is used instead.
namespace quenlitor::platform::xdg {

// The folder the application's own files live in, under every base directory.
inline constexpr std::string_view applicationFolder = "quenlitor-midi-texto";

// The user's home: $HOME, or the password database's entry when it is unset.
std::filesystem::path homeDirectory();
// $XDG_CONFIG_HOME, or ~/.config.
std::filesystem::path configHome();
// $XDG_DATA_HOME, or ~/.local/share.
std::filesystem::path dataHome();
// The entries of $XDG_DATA_DIRS in order, or /usr/local/share and /usr/share.
std::vector<std::filesystem::path> dataDirs();
// $XDG_RUNTIME_DIR, if the session has one.
std::optional<std::filesystem::path> runtimeDir();
// The folder of the running executable, if the system tells.
std::optional<std::filesystem::path> executableDirectory();

} // namespace quenlitor::platform::xdg
