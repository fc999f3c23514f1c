#pragma once

#include "platform/RunningInstances.hpp"

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace quenlitor::platform::xdg {

// The single instance as a lock: claiming an identifier takes an exclusive flock() on
// "<identifier>.lock" in the user's runtime directory and keeps it until this object is
// destroyed. The system releases it when the process ends, however it ends, so a crash never
// leaves a stale lock behind.
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
    // write into it, the file cannot be opened) the claim succeeds: a copy that cannot tell is
    // let run rather than never start.
    bool claimSingleInstance(std::string_view applicationId) override;

    // The lock file for `applicationId`; a "/" in it becomes "_".
    std::filesystem::path lockPath(std::string_view applicationId) const;

private:
    std::filesystem::path m_directory;
    // The open descriptor holding each lock taken.
    std::map<std::string, int, std::less<>> m_held;
};

} // namespace quenlitor::platform::xdg
