#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace quenlitor::platform::qt {

// The kind of tray the status item goes into: a StatusNotifierItem host, which shows the item and
// its menu over D-Bus, or an XEmbed system tray, which docks an X11 window.
enum class TrayKind { none, statusNotifier, xembed };

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
};

// The trays of a free desktop, as they come and go:
// - a StatusNotifierItem host: the owner of org.kde.StatusNotifierWatcher on the session bus
//   while it answers true for IsStatusNotifierHostRegistered, read again whenever its owner
//   changes or it announces that a host registered or left;
// - an XEmbed system tray: the owner of the _NET_SYSTEM_TRAY_S0 selection on the X display
//   (Qt's X11 platform only), followed by the MANAGER message a new tray sends to the root window
//   and by the destruction of the owner's window.
// Unlike Qt's own check, which asks once per process, the answer changes as the desktop does.
// Every question to the bus is asynchronous: a watcher that never answers leaves the answer at
// "no host" rather than the application hung. Until the first answer has come, an XEmbed tray is
// not reported either: many panels offer both kinds, and a tray icon made for the XEmbed one
// would become a second StatusNotifierItem (Qt makes its icons items wherever a host is).
class SessionTrayHosts final : public QObject, public TrayHosts, private QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Needs the application object.
    SessionTrayHosts();
    ~SessionTrayHosts() override;

    TrayKind kind() const override;

private Q_SLOTS:
    // QtDBus delivers a bus signal only to a slot named by its signature.
    void hostsChanged();

private:
    void askWatcher();
    void setStatusNotifierHost(bool registered);
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
