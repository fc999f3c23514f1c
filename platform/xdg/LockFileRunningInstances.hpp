#pragma once

#include "platform/RunningInstances.hpp"

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace quenlitor::platform::xdg {

// Running copies told apart by a lock: asking for an identifier takes an exclusive flock() on
// "<identifier>.lock" in the user's runtime directory and keeps it until this object is
// destroyed. The system releases it when the process ends, however it ends, so a crash never
// leaves a stale lock behind. The count is 1 when this process holds the lock and 2 when another
// process does.
class LockFileRunningInstances final : public RunningInstances {
public:
    explicit LockFileRunningInstances(std::filesystem::path directory = defaultDirectory());
    // Releases every lock taken.
    ~LockFileRunningInstances() override;

    LockFileRunningInstances(const LockFileRunningInstances&) = delete;
    LockFileRunningInstances& operator=(const LockFileRunningInstances&) = delete;

    // $XDG_RUNTIME_DIR, or /tmp/quenlitor-<uid> when the session has none.
    static std::filesystem::path defaultDirectory();

    // Where the lock cannot work (the folder cannot be made, is not the user's own or others may
    // write into it, the file cannot be opened) the answer is 1: a copy that cannot tell is let
    // run rather than never start.
    std::size_t runningApplicationsWithBundleIdentifier(std::string_view bundleIdentifier) override;

    // The lock file for `bundleIdentifier`; a "/" in it becomes "_".
    std::filesystem::path lockPath(std::string_view bundleIdentifier) const;

private:
    std::filesystem::path m_directory;
    // The open descriptor holding each lock taken.
    std::map<std::string, int, std::less<>> m_held;
};

} // namespace quenlitor::platform::xdg
