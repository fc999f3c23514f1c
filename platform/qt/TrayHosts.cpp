#include "TrayHosts.hpp"

#include "DBusTrayTypes.hpp"
#include "X11.hpp"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include <xcb/xcb.h>

#include <cstdlib>

namespace quenlitor::platform::qt {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
// Real watchers answer within milliseconds; one that takes longer is stuck.
constexpr int watcherPatience = 1000;

} // namespace

SessionTrayHosts::SessionTrayHosts() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_watcher = new QDBusServiceWatcher(watcherService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { askWatcher(); });
        // KDE's watcher also announces hosts that leave; the others only those that come.
        bus.connect(QString(), watcherPath, watcherInterface, QStringLiteral("StatusNotifierHostRegistered"), this,
                    SLOT(hostRegistered()));
        bus.connect(QString(), watcherPath, watcherInterface, QStringLiteral("StatusNotifierHostUnregistered"), this,
                    SLOT(hostUnregistered()));
        askWatcher();
    } else {
        // Without a bus there is no StatusNotifierItem host to wait for.
        m_watcherAnswered = true;
    }

    if (void* connection = x11::connection()) {
        m_x11 = connection;
        // The tray of the first screen, where Qt's X11 platform docks its tray icons too.
        m_traySelection = x11::atom("_NET_SYSTEM_TRAY_S0");
        m_managerAtom = x11::atom("MANAGER");
        // Qt's X11 platform listens to the root window's structure, where a new tray announces itself.
        QCoreApplication::instance()->installNativeEventFilter(this);
        followXEmbedTray(xembedTrayOwner());
    }
}

SessionTrayHosts::~SessionTrayHosts() {
    if (m_x11 != nullptr && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

TrayKind SessionTrayHosts::kind() const {
    if (m_statusNotifierHost) {
        return TrayKind::statusNotifier;
    }
    return m_xembedTray != 0 && m_watcherAnswered ? TrayKind::xembed : TrayKind::none;
}

void SessionTrayHosts::hostRegistered() { askWatcher(); }

void SessionTrayHosts::hostUnregistered() {
    askWatcher();
    if (onHostLeft) {
        onHostLeft();
    }
}

void SessionTrayHosts::askWatcher() {
    QDBusMessage question = QDBusMessage::createMethodCall(watcherService, watcherPath,
                                                           QStringLiteral("org.freedesktop.DBus.Properties"),
                                                           QStringLiteral("Get"));
    question << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    const std::uint64_t asked = ++m_question;
    auto* pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(question, watcherPatience), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, asked](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        if (asked != m_question) {
            return;
        }
        const QDBusPendingReply<QDBusVariant> reply = *answered;
        const QDBusError::ErrorType error = reply.error().type();
        // No watcher, or one that cannot tell, is no host; one that stays silent is not an answer.
        const bool silent = isSilence(error);
        setStatusNotifierHost(!reply.isError() && reply.value().variant().toBool(), !silent);
    });
}

void SessionTrayHosts::setStatusNotifierHost(bool registered, bool answered) {
    if (registered == m_statusNotifierHost && answered == m_watcherAnswered) {
        return;
    }
    const TrayKind before = kind();
    m_statusNotifierHost = registered;
    m_watcherAnswered = answered;
    if (kind() != before) {
        changed();
    }
}

std::uint32_t SessionTrayHosts::xembedTrayOwner() const {
    auto* connection = static_cast<xcb_connection_t*>(m_x11);
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, m_traySelection), nullptr);
    const xcb_window_t owner = reply != nullptr ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
    std::free(reply);
    return owner;
}

void SessionTrayHosts::followXEmbedTray(std::uint32_t owner) {
    auto* connection = static_cast<xcb_connection_t*>(m_x11);
    if (owner != XCB_WINDOW_NONE) {
        // Told when the tray's window goes, as it does when the tray ends.
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, owner, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);
        // The tray may have ended before it was listened to.
        owner = xembedTrayOwner();
    }
    if (owner == m_xembedTray) {
        return;
    }
    const TrayKind before = kind();
    m_xembedTray = owner;
    if (kind() != before) {
        changed();
    }
}

bool SessionTrayHosts::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_CLIENT_MESSAGE: {
        const auto* manager = static_cast<const xcb_client_message_event_t*>(message);
        if (manager->type == m_managerAtom && manager->format == 32 && manager->data.data32[1] == m_traySelection) {
            followXEmbedTray(manager->data.data32[2]);
        }
        break;
    }
    case XCB_DESTROY_NOTIFY:
        if (m_xembedTray != 0 && static_cast<const xcb_destroy_notify_event_t*>(message)->window == m_xembedTray) {
            followXEmbedTray(xembedTrayOwner());
        }
        break;
    default:
        break;
    }
    // Qt's own tray icon follows the same events.
    return false;
}

void SessionTrayHosts::changed() {
    if (onChange) {
        onChange();
    }
}

} // namespace quenlitor::platform::qt
