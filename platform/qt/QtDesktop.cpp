#include "QtDesktop.hpp"

#include "JsonSettingsStore.hpp"
#include "QtApplication.hpp"
#include "QtClipboard.hpp"
#include "QtMainQueue.hpp"
#include "QtMenu.hpp"
#include "QtRunningInstances.hpp"
#include "platform/xdg/XdgBundleResources.hpp"
#if QUENLITOR_WITH_WAYLAND
#include "QtWaylandClipboard.hpp"
#include "platform/wayland/DataControlClipboard.hpp"
#endif

#include <chrono>
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

Desktop makeQtDesktop(int& argc, char** argv, std::shared_ptr<MIDIPlatform> midi, bool withSession) {
    QtStatusItem::Patience patience;
    if (withSession) {
        patience.atStart = std::chrono::seconds(5);
    }
    // The application first: every other Qt object needs it.
    auto application = std::make_shared<QtApplication>(argc, argv, QtApplication::TrayHostsMaker{}, patience);
    auto runningInstances = std::make_shared<QtRunningInstances>();
    runningInstances->onActivated = [weak = std::weak_ptr<QtApplication>(application)] {
        if (const auto shown = weak.lock()) {
            shown->activate();
        }
    };
    return Desktop{
        .application = std::move(application),
        .menus = std::make_shared<QtMenuFactory>(),
        .clipboard = makeClipboard(),
        .defaults = std::make_shared<JsonSettingsStore>(JsonSettingsStore::defaultPath()),
        .bundle = std::make_shared<xdg::XdgBundleResources>(),
        .runningInstances = std::move(runningInstances),
        .midi = std::move(midi),
        .mainQueue = std::make_shared<QtMainQueue>(),
    };
}

} // namespace quenlitor::platform::qt
