#include "StatusNotifierItem.hpp"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QPointer>

#include <atomic>
#include <utility>

namespace quenlitor::platform::qt {

namespace {

const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuObjectPath = QStringLiteral("/MenuBar");
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
// A watcher that has not answered by then never will; the wait for a host to read the item is
// what brings the window meanwhile.
constexpr int registrationTimeout = 10000;

// Each showing gets a bus name of its own: a host still dropping the previous one never takes
// the new one for it.
int nextShowing() {
    static std::atomic<int> showings{0};
    return ++showings;
}

} // namespace

StatusNotifierItem::StatusNotifierItem(QString id, QString busAddress, QObject* parent)
    : QObject(parent), m_id(std::move(id)), m_busAddress(std::move(busAddress)), m_menu(new DBusMenu(this)) {
    registerDBusTrayTypes();
}

StatusNotifierItem::~StatusNotifierItem() { hide(); }

void StatusNotifierItem::setTitle(const QString& title) {
    if (title == m_title) {
        return;
    }
    m_title = title;
    Q_EMIT NewTitle();
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
    m_icon = toDBusImages(icon);
    Q_EMIT NewIcon();
}

void StatusNotifierItem::askHostsToRead() {
    Q_EMIT NewTitle();
    Q_EMIT NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& toolTip) {
    if (toolTip == m_toolTip) {
        return;
    }
    m_toolTip = toolTip;
    Q_EMIT NewToolTip();
}

// The text alone, as the title: hosts show the title in bold and a text under it, and the
// application's name is already the item's title.
DBusToolTip StatusNotifierItem::toolTip() const {
    return read(DBusToolTip{.iconName = {}, .images = {}, .title = m_toolTip, .text = {}});
}

QDBusObjectPath StatusNotifierItem::menuPath() const { return read(QDBusObjectPath(menuObjectPath)); }

// QtDBus reads the properties while it answers the host: the item's owner hears of it afterwards,
// once for all the properties of one answer.
void StatusNotifierItem::noteRead() const {
    if (m_readPending) {
        return;
    }
    m_readPending = true;
    QMetaObject::invokeMethod(
        const_cast<StatusNotifierItem*>(this),
        [self = QPointer(const_cast<StatusNotifierItem*>(this))] {
            if (self == nullptr) {
                return;
            }
            self->m_readPending = false;
            if (self->isVisible() && self->onRead) {
                self->onRead();
            }
        },
        Qt::QueuedConnection);
}

bool StatusNotifierItem::show() {
    if (isVisible()) {
        return true;
    }
    const int showing = nextShowing();
    const QString connectionName = QStringLiteral("quenlitor-status-notifier-%1").arg(showing);
    QDBusConnection bus = m_busAddress.isEmpty()
                              ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)
                              : QDBusConnection::connectToBus(m_busAddress, connectionName);
    const auto exported = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                          QDBusConnection::ExportAllProperties;
    // The objects first: KDE's watcher looks for the item as soon as it hears the name.
    if (!bus.isConnected() || !bus.registerObject(itemPath, this, exported) ||
        !bus.registerObject(menuObjectPath, m_menu, exported)) {
        QDBusConnection::disconnectFromBus(connectionName);
        return false;
    }
    m_connectionName = connectionName;
    m_serviceName =
        QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(showing);
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    // 4: do not queue; the name is this showing's alone, so anything but "primary owner" is a refusal.
    request << m_serviceName << 4u;
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(request), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, connectionName](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        if (connectionName != m_connectionName) {
            return;
        }
        const QDBusPendingReply<uint> reply = *answer;
        nameAnswered(!reply.isError() && reply.value() == 1);
    });
    return true;
}

void StatusNotifierItem::nameAnswered(bool owned) {
    if (!owned) {
        refused();
        return;
    }
    // A panel that restarts brings its watcher back, which knows nothing of the item.
    m_watcher = new QDBusServiceWatcher(watcherService, QDBusConnection(m_connectionName),
                                        QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { registerWithWatcher(); });
    registerWithWatcher();
}

void StatusNotifierItem::hide() {
    if (!isVisible()) {
        return;
    }
    delete m_watcher;
    m_watcher = nullptr;
    // Hosts can no longer reach the menu, so none will say it closed.
    m_menu->closeForHosts();
    // The bus forgets the connection's names with it, and the watchers forget the item.
    QDBusConnection::disconnectFromBus(std::exchange(m_connectionName, {}));
    m_serviceName.clear();
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage registration = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
        QStringLiteral("RegisterStatusNotifierItem"));
    registration << m_serviceName;
    auto* pending = new QDBusPendingCallWatcher(
        QDBusConnection(m_connectionName).asyncCall(registration, registrationTimeout), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, connection = m_connectionName](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusError::ErrorType error = answer->error().type();
                // No watcher, or a silent one, is for the wait for a host to settle.
                const bool refusal = answer->isError() && error != QDBusError::ServiceUnknown &&
                                     !isSilence(error) && error != QDBusError::Disconnected;
                if (connection == m_connectionName && refusal) {
                    refused();
                }
            });
}

void StatusNotifierItem::refused() {
    if (onRefused) {
        onRefused();
    }
}

void StatusNotifierItem::Activate(int x, int y) { requestMenu(x, y); }

void StatusNotifierItem::ContextMenu(int x, int y) { requestMenu(x, y); }

// The item has nothing else to offer: a middle click or the wheel over it does nothing.
void StatusNotifierItem::SecondaryActivate(int, int) {}

void StatusNotifierItem::Scroll(int, const QString&) {}

void StatusNotifierItem::requestMenu(int x, int y) {
    if (onMenuRequested) {
        // Some hosts send no position, as (0, 0).
        onMenuRequested(x == 0 && y == 0 ? QCursor::pos() : QPoint(x, y));
    }
}

} // namespace quenlitor::platform::qt
