#pragma once

#include "StatusPlacement.hpp"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace quenlitor::platform::qt {

// Whether the desktop has a tray to show the status item in, followed for the life of the
// process: trays start after the application, crash, restart, or are switched on and off.
class TrayHosts {
public:
    virtual ~TrayHosts() = default;

    // The tray that shows the item now: a StatusNotifierItem host where there is one, since it
    // tells the item where its icon is; else an XEmbed tray; else none.
    virtual TrayKind kind() const = 0;
    bool available() const { return kind() != TrayKind::none; }

    // Called on the GUI thread after kind() may have changed.
    std::function<void()> onChange;
    // Called on the GUI thread when a StatusNotifierItem host left while others may remain: KDE's
    // watcher still says a host is there after plasmashell ended, so only the hosts can tell.
    std::function<void()> onHostLeft;
};

// The trays of a free desktop, as they come and go:
// - a StatusNotifierItem host: the owner of org.kde.StatusNotifierWatcher on the session bus
//   while it answers true for IsStatusNotifierHostRegistered, read again whenever its owner
//   changes or it announces that a host registered or left;
// - an XEmbed system tray: the owner of the _NET_SYSTEM_TRAY_S0 selection on the X display
//   (Qt's X11 platform only), followed by the MANAGER message a new tray sends to the root window
//   and by the destruction of the owner's window.
// Unlike Qt's own check, which asks once per process, the answer changes as the desktop does.
// Every question to the bus is asynchronous: a watcher that does not answer within a second
// leaves the answer at "no host" rather than the application hung. Until a watcher has answered,
// or is known to be absent, an XEmbed tray is not reported either: many panels offer both kinds,
// and a tray icon made for the XEmbed one would become a second StatusNotifierItem (Qt makes its
// icons items wherever a host is), and Qt's own check for a host, made as the first tray icon is,
// waits on the watcher without a bound.
class SessionTrayHosts final : public QObject, public TrayHosts, private QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Needs the application object.
    SessionTrayHosts();
    ~SessionTrayHosts() override;

    TrayKind kind() const override;

private Q_SLOTS:
    // QtDBus delivers a bus signal only to a slot named by its signature.
    void hostRegistered();
    void hostUnregistered();

private:
    void askWatcher();
    void setStatusNotifierHost(bool registered, bool answered);
    void followXEmbedTray(std::uint32_t owner);
    std::uint32_t xembedTrayOwner() const;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void changed();

    QDBusServiceWatcher* m_watcher = nullptr;
    // Answers to older questions are dropped: only the latest describes the watcher now.
    std::uint64_t m_question = 0;
    bool m_statusNotifierHost = false;
    bool m_watcherAnswered = false;
    void* m_x11 = nullptr;
    std::uint32_t m_traySelection = 0;
    std::uint32_t m_managerAtom = 0;
    std::uint32_t m_xembedTray = 0;
};

} // namespace quenlitor::platform::qt
