// The Qt binding's tests share one QApplication, created before any test runs, on the platform
// without a display unless the environment names another, and a session bus of their own.
#include "QtTestSupport.hpp"

#include <QApplication>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A dbus-daemon for this process alone, before Qt may reach the bus: no test ever shows an item
    // in the tray of the desktop it runs on. Without dbus-daemon the bus is an address nobody
    // listens at, and the tests that need a bus skip.
    std::string address = "unix:path=/nonexistent/quenlitor-tests-bus";
    int daemonPid = 0;
    if (FILE* daemon = ::popen("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 2>/dev/null", "r")) {
        char line[512];
        if (std::fgets(line, sizeof line, daemon) != nullptr && std::string(line).starts_with("unix:")) {
            address = std::string(line, std::string(line).find_first_of("\r\n"));
            daemonPid = std::fgets(line, sizeof line, daemon) != nullptr ? std::atoi(line) : 0;
        }
        ::pclose(daemon);
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    quenlitor::testing::sessionBusRuns = daemonPid > 0;
    int status = 0;
    {
        QApplication application(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    if (daemonPid > 0) {
        ::kill(daemonPid, SIGTERM);
    }
    return status;
}
