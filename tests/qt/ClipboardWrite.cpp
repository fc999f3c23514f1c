// Writes one text to the desktop's clipboard exactly as the application does: the clipboard of
// the Qt binding's desktop (data-control on a Wayland compositor that offers it, else the X11
// CLIPBOARD through Qt), then keeps serving it. For the desktop checks, on desktops too slow to run
// the whole application under emulation.
// Usage: quenlitor-clipboard-write TEXT [SECONDS]   (default 10)
// Prints "copied" or "refused"; exit status 0 when copied, 1 when refused, 2 on bad arguments.
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
    const char* text = argv[1];
    const int seconds = argc == 3 ? std::atoi(argv[2]) : 10;
    auto desktop = quenlitor::platform::qt::makeQtDesktop(argc, argv);
    desktop.clipboard->clearContents();
    const bool copied = desktop.clipboard->setString(text);
    std::printf("%s\n", copied ? "copied" : "refused");
    std::fflush(stdout);
    QTimer::singleShot(seconds * 1000, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    return copied ? 0 : 1;
}
