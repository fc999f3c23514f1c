// The Qt binding's tests share one QApplication, created before any test runs, on the platform
// without a display unless the environment names another, and a session bus of their own.
#include "QtTestSupport.hpp"

#include <QApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A dbus-daemon for this process alone, so that no test ever shows an item in the tray of the
// desktop it runs on, and the tray item's tests talk to a real bus. Without dbus-daemon the bus
// is an address nobody listens at, and the tests that need a bus skip.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        std::string address = "unix:path=/nonexistent/quenlitor-tests-bus";
        if (FILE* daemon = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 "
                                   "2>/dev/null",
                                   "r")) {
            char line[512];
            if (std::fgets(line, sizeof line, daemon) != nullptr && std::string(line).starts_with("unix:")) {
                address = std::string(line, std::string(line).find_first_of("\r\n"));
                m_runs = true;
            }
            if (std::fgets(line, sizeof line, daemon) != nullptr) {
                m_pid = std::atoi(line);
            }
            ::pclose(daemon);
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        quenlitor::testing::sessionBusRuns = m_runs && m_pid > 0;
    }
    ~PrivateSessionBus() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
        }
    }

private:
    bool m_runs = false;
    int m_pid = 0;
};

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Before the application: Qt may reach the session bus as it starts.
    const PrivateSessionBus bus;
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
