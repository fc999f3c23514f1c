#pragma once

#include "platform/Application.hpp"

#include <QApplication>
#include <QObject>
#include <QSocketNotifier>

#include <memory>

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
class QtApplication final : public Application {
public:
    // Creates the QApplication after preferX11OnWayland(), or uses the one that exists. Only one
    // QtApplication at a time handles the signals. Both arguments must outlive the object.
    QtApplication(int& argc, char** argv);
    // Forgets the delegate and deletes the Qt objects left for deletion, before the QApplication.
    ~QtApplication() override;

    QtApplication(const QtApplication&) = delete;
    QtApplication& operator=(const QtApplication&) = delete;

    void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) override { m_delegate = std::move(delegate); }
    // Returns the loop's exit status: 0 after an orderly quit.
    int run() override;
    // Queued: the loop ends after the events already waiting, then applicationWillTerminate runs.
    void terminate() override;
    std::shared_ptr<StatusItem> makeStatusItem() override;

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
};

} // namespace quenlitor::platform::qt
