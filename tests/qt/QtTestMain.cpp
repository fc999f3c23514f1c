// The Qt binding's tests share one QApplication, created before any test runs, on the platform
// without a display unless the environment names another, and a session bus of their own.
#include "QtTestSupport.hpp"

#include <QApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

static int busPid = 0;

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Before Qt may reach the bus, so that no test shows an item in the tray of the desktop it runs
    // on; without dbus-daemon, an address nobody listens at, and the tests that need a bus skip.
    std::string address = "unix:path=/nonexistent/quenlitor-tests-bus";
    if (FILE* daemon = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 2>/dev/null", "r")) {
        char line[512];
        if (std::fgets(line, sizeof line, daemon) != nullptr && std::string(line).starts_with("unix:")) {
            address = std::string(line, std::string(line).find_first_of("\r\n"));
            busPid = std::fgets(line, sizeof line, daemon) != nullptr ? std::atoi(line) : 0;
        }
        ::pclose(daemon);
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    quenlitor::testing::sessionBusRuns = busPid > 0;
    if (busPid > 0) {
        std::atexit([] { ::kill(busPid, SIGTERM); }); // after the application has left the bus
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
