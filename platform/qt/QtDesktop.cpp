#include "QtDesktop.hpp"

#include "JsonSettingsStore.hpp"
#include "platform/xdg/LockFileRunningInstances.hpp"
#include "QtApplication.hpp"
#include "QtClipboard.hpp"
#include "QtMainQueue.hpp"
#include "QtMenu.hpp"
#include "QtStatusItem.hpp"
#include "platform/xdg/XdgBundleResources.hpp"
#if QUENLITOR_WITH_WAYLAND
#include "QtWaylandClipboard.hpp"
#include "platform/wayland/DataControlClipboard.hpp"
#endif

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <utility>

namespace quenlitor::platform::qt {

namespace {

// On a Wayland desktop whose compositor offers data-control, the Wayland selection owned through
// it: the X11 CLIPBOARD of a client without a focused window does not reach Wayland applications
// on every compositor. Elsewhere, and on X11 sessions, the X11 CLIPBOARD through Qt.
std::shared_ptr<Clipboard> makeClipboard() {
#if QUENLITOR_WITH_WAYLAND
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (display != nullptr && *display != '\0') {
        if (auto selection = wayland::DataControlClipboard::connect(display)) {
            return std::make_shared<QtWaylandClipboard>(std::move(selection));
        }
    }
#endif
    return std::make_shared<QtClipboard>();
}

} // namespace

Desktop makeQtDesktop(int& argc, char** argv, std::shared_ptr<MIDIPlatform> midi) {
    // The application first: every other Qt object needs it.
    auto application = std::make_shared<QtApplication>(argc, argv);
    return Desktop{
        .application = std::move(application),
        .menus = std::make_shared<QtMenuFactory>(),
        .clipboard = makeClipboard(),
        .defaults = std::make_shared<JsonSettingsStore>(JsonSettingsStore::defaultPath()),
        .bundle = std::make_shared<xdg::XdgBundleResources>(),
        .runningInstances = std::make_shared<xdg::LockFileRunningInstances>(),
        .midi = std::move(midi),
        .mainQueue = std::make_shared<QtMainQueue>(),
    };
}

bool systemTrayAvailable(std::chrono::milliseconds patience) {
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (QtStatusItem::isSystemTrayAvailable()) {
            return true;
        }
        if (waited.elapsed() >= patience.count()) {
            return false;
        }
        // A tray that starts announces itself to the X11 platform by an event.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(100);
    }
}

} // namespace quenlitor::platform::qt
