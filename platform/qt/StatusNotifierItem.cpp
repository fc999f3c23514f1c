#include "StatusNotifierItem.hpp"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>

#include <atomic>
#include <utility>

namespace quenlitor::platform::qt {

namespace {

const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuObjectPath = QStringLiteral("/MenuBar");
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

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
    return DBusToolTip{.iconName = {}, .images = {}, .title = m_toolTip, .text = {}};
}

QDBusObjectPath StatusNotifierItem::menuPath() const { return QDBusObjectPath(menuObjectPath); }

bool StatusNotifierItem::show() {
    if (isVisible()) {
        return true;
    }
    const int showing = nextShowing();
    const QString connectionName = QStringLiteral("quenlitor-status-notifier-%1").arg(showing);
    QDBusConnection bus = m_busAddress.isEmpty()
                              ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)
                              : QDBusConnection::connectToBus(m_busAddress, connectionName);
    const QString serviceName =
        QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(showing);
    const auto exported = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                          QDBusConnection::ExportAllProperties;
    if (!bus.isConnected() || !bus.registerObject(itemPath, this, exported) ||
        !bus.registerObject(menuObjectPath, m_menu, exported) || !bus.registerService(serviceName)) {
        QDBusConnection::disconnectFromBus(connectionName);
        return false;
    }
    m_connectionName = connectionName;
    m_serviceName = serviceName;
    // A panel that restarts brings its watcher back, which knows nothing of the item.
    m_watcher = new QDBusServiceWatcher(watcherService, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { registerWithWatcher(); });
    registerWithWatcher();
    return true;
}

void StatusNotifierItem::hide() {
    if (!isVisible()) {
        return;
    }
    delete m_watcher;
    m_watcher = nullptr;
    // The bus forgets the connection's names with it, and the watchers forget the item.
    QDBusConnection::disconnectFromBus(std::exchange(m_connectionName, {}));
    m_serviceName.clear();
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage registration = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
        QStringLiteral("RegisterStatusNotifierItem"));
    registration << m_serviceName;
    // Nobody waits for the answer: a watcher that refuses or never answers leaves no host to show
    // the item, which the application learns from the hosts themselves.
    QDBusConnection(m_connectionName).call(registration, QDBus::NoBlock);
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
