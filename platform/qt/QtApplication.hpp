#pragma once

#include "QtStatusItem.hpp"
#include "platform/Application.hpp"

#include <QApplication>
#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <vector>

namespace quenlitor::platform::qt {

// On a Wayland session, makes Qt use its X11 platform (through XWayland) unless the user chose a
// platform in QT_QPA_PLATFORM. The clipboard needs it: Qt's Wayland clipboard writes only for a
// client that has a focused window, and silently drops the writes of a tray application, which
// has none; on X11 owning the clipboard needs no focus. Does nothing where no X server is reachable
// ($DISPLAY unset), where forcing X11 would keep the application from starting at all. Only has
// an effect before the application object is created.
void preferX11OnWayland();

// The application over a QApplication without a main window: closing a window never quits it.
//
// run() calls the delegate's applicationDidFinishLaunching once the event loop runs, and returns
// once the loop has ended and applicationWillTerminate has run, exactly once, whatever ended it:
// terminate(), the desktop session, or SIGTERM, SIGINT or SIGHUP (logout, Ctrl+C, the terminal closing), which are turned into
// the same orderly quit. After the first such signal the previous handling is back, so a second
// one ends a process whose quit hangs.
//
// Its status items follow the trays that `makeTrayHosts` reports (the session's own by default),
// waiting for one with `patience` (QtStatusItem); all the while the loop runs, so a signal ends
// the application at any moment, the wait for a tray included.
class QtApplication final : public Application, public std::enable_shared_from_this<QtApplication> {
public:
    using TrayHostsMaker = std::function<std::shared_ptr<TrayHosts>()>;

    // Creates the QApplication after preferX11OnWayland(), or uses the one that exists. Only one
    // QtApplication at a time handles the signals. Both arguments must outlive the object.
    QtApplication(int& argc, char** argv, TrayHostsMaker makeTrayHosts = {}, QtStatusItem::Patience patience = {});
    // Forgets the delegate and deletes the Qt objects left for deletion, before the QApplication.
    ~QtApplication() override;

    QtApplication(const QtApplication&) = delete;
    QtApplication& operator=(const QtApplication&) = delete;

    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) override { m_delegate = std::move(delegate); }
    // Returns the loop's exit status: 0 after an orderly quit.
    int run() override;
    // Queued: the loop ends after the events already waiting, then applicationWillTerminate runs.
    void terminate() override;
    // In the tray, or in a window while the desktop has no tray; closing the window quits.
    std::shared_ptr<StatusItem> makeStatusItem() override;
    // Another start of the application asked this one to show itself: the status items' windows
    // are shown, raised and focused (QtStatusItem::activate).
    void activate();

private:
    void launch();
    void finish();
    void installSignalHandlers();
    void restoreSignalHandlers();

    std::unique_ptr<QApplication> m_ownedApplication;
    std::unique_ptr<QObject> m_context;
    std::unique_ptr<QSocketNotifier> m_signalNotifier;
    bool m_handlesSignals = false;
    bool m_quitRequested = false;
    bool m_launched = false;
    bool m_finished = false;
    std::weak_ptr<ApplicationDelegate> m_delegate;
    TrayHostsMaker m_makeTrayHosts;
    QtStatusItem::Patience m_patience;
    std::vector<std::weak_ptr<QtStatusItem>> m_statusItems;
};

} // namespace quenlitor::platform::qt
