// For the desktop checks: writes TEXT to the clipboard as the application does, serves it for
// SECONDS (10), and prints "copied" (status 0) or "refused" (1).
#include "platform/qt/QtDesktop.hpp"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: quenlitor-clipboard-write TEXT [SECONDS]\n");
        return 2;
    }
    const int seconds = argc == 3 ? std::atoi(argv[2]) : 10;
    auto desktop = quenlitor::platform::qt::makeQtDesktop(argc, argv);
    desktop.clipboard->clearContents();
    const bool copied = desktop.clipboard->setString(argv[1]);
    std::printf("%s\n", copied ? "copied" : "refused");
    std::fflush(stdout);
    QTimer::singleShot(seconds * 1000, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    return copied ? 0 : 1;
}
