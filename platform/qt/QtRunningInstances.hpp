#pragma once

#include "QtOwnership.hpp"
#include "platform/RunningInstances.hpp"
#include "platform/xdg/LockFileRunningInstances.hpp"

#include <QLocalServer>

#include <filesystem>
#include <functional>

namespace quenlitor::platform::qt {

// The single-instance lock of the XDG binding, with a way for a later start to reach the running
// copy: the copy that holds the lock listens on "<identifier>.socket" beside the lock file, in the
// same private folder, and a start that finds the lock taken connects to it before it gives up.
// The connection itself is the request: the running copy calls onActivated (to show its window).
// A later start never waits for the running copy to answer.
class QtRunningInstances final : public RunningInstances {
public:
    // Needs the application object, for the listening socket.
    explicit QtRunningInstances(std::filesystem::path directory = xdg::LockFileRunningInstances::defaultDirectory());
    // Stops listening; the lock goes with the XDG binding's.
    ~QtRunningInstances() override;

    QtRunningInstances(const QtRunningInstances&) = delete;
    QtRunningInstances& operator=(const QtRunningInstances&) = delete;

    // Claims the lock; where another copy holds it, asks that copy to show itself and answers false.
    bool claimSingleInstance(std::string_view applicationId) override;

    // Called on the GUI thread when another start asked this copy to show itself.
    std::function<void()> onActivated;

    // The socket for `applicationId`, beside its lock file.
    std::filesystem::path socketPath(std::string_view applicationId) const;

private:
    void listen(std::string_view applicationId);

    std::filesystem::path m_directory;
    xdg::LockFileRunningInstances m_locks;
    QtOwned<QLocalServer> m_server;
};

} // namespace quenlitor::platform::qt
