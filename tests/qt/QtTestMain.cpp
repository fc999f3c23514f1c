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
    // Before Qt may reach the bus, so that no test shows an item in the desktop's tray; without one, an
    // address nobody listens at. The daemon outlives a test a signal kills: it keeps no inherited file.
    char address[512] = "unix:path=/nonexistent/quenlitor-tests-bus";
    if (FILE* daemon = ::popen("exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; dbus-daemon --session --fork --nopidfile "
                               "--print-address=1 --print-pid=1 2>/dev/null", "r")) {
        busPid = std::fscanf(daemon, "%511s %d", address, &busPid) == 2 ? busPid : 0;
        ::pclose(daemon);
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
    quenlitor::testing::sessionBusRuns = busPid > 0;
    if (busPid > 0) {
        std::atexit([] { ::kill(busPid, SIGTERM); }); // after the application has left the bus
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
