#include "QtDesktop.hpp"

#include "JsonSettingsStore.hpp"
#include "platform/xdg/LockFileRunningInstances.hpp"
#include "QtApplication.hpp"
#include "QtClipboard.hpp"
#include "QtMainQueue.hpp"
#include "QtMenu.hpp"
#include "QtStatusItem.hpp"
#include "platform/xdg/XdgBundleResources.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <utility>

namespace quenlitor::platform::qt {

Desktop makeQtDesktop(int& argc, char** argv, std::shared_ptr<MIDIPlatform> midi) {
    // The application first: every other Qt object needs it.
    auto application = std::make_shared<QtApplication>(argc, argv);
    return Desktop{
        .application = std::move(application),
        .menus = std::make_shared<QtMenuFactory>(),
        .clipboard = std::make_shared<QtClipboard>(),
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
