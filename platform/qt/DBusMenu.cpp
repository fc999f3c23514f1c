#include "DBusMenu.hpp"

#include "MenuViews.hpp"

#include <QAction>
#include <QActionEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace quenlitor::platform::qt {

namespace {

// A QAction's text as dbusmenu writes labels: '_' marks the access key there, so a '_' of the
// text is doubled; '&&' is Qt's escaped '&', and a single '&' is Qt's access key mark.
QString dbusMenuLabel(const QString& text) {
    QString label;
    label.reserve(text.size());
    for (qsizetype index = 0; index < text.size(); ++index) {
        const QChar character = text[index];
        if (character == QLatin1Char('_')) {
            label += QLatin1String("__");
        } else if (character != QLatin1Char('&')) {
            label += character;
        } else if (index + 1 < text.size() && text[index + 1] == QLatin1Char('&')) {
            label += QLatin1Char('&');
            ++index;
        } else if (index + 1 < text.size()) {
            label += QLatin1Char('_');
        }
    }
    return label;
}

// Every property of an entry, explicit even where it has its default value, so that a change
// back to the default reaches hosts as a change.
QVariantMap entryProperties(const QAction& action) {
    if (action.isSeparator()) {
        return {{QStringLiteral("type"), QStringLiteral("separator")}, {QStringLiteral("visible"), action.isVisible()}};
    }
    QVariantMap properties{
        {QStringLiteral("label"), dbusMenuLabel(action.text())},
        {QStringLiteral("enabled"), action.isEnabled()},
        {QStringLiteral("visible"), action.isVisible()},
    };
    if (action.isCheckable()) {
        properties.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        properties.insert(QStringLiteral("toggle-state"), action.isChecked() ? 1 : 0);
    }
    if (action.menu() != nullptr) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    }
    return properties;
}

QVariantMap only(QVariantMap properties, const QStringList& names) {
    if (names.isEmpty()) {
        return properties;
    }
    for (auto property = properties.begin(); property != properties.end();) {
        property = names.contains(property.key()) ? std::next(property) : properties.erase(property);
    }
    return properties;
}

const QString submenuKey = QStringLiteral("children-display");

} // namespace

DBusMenu::DBusMenu(QObject* parent) : QObject(parent) { registerDBusTrayTypes(); }

void DBusMenu::setMenu(QMenu* menu) {
    if (menu == m_menu) {
        return;
    }
    closeForHosts();
    m_menu = menu;
    m_layoutChanged = true;
    changeLater();
}

QString DBusMenu::textDirection() const {
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl") : QStringLiteral("ltr");
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayout& layout) {
    if (!known(parentId)) {
        refuse(QStringLiteral("No hay ninguna entrada %1 en el menú.").arg(parentId));
        layout = DBusMenuLayout{.id = parentId, .properties = {}, .children = {}};
        return m_revision;
    }
    QMenu* menu = parentId == 0 ? m_menu.data() : actionOf(parentId)->menu();
    layout = layoutOf(parentId, menu, recursionDepth, propertyNames);
    return m_revision;
}

QList<DBusMenuItem> DBusMenu::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
    QList<DBusMenuItem> items;
    for (const int id : ids) {
        if (known(id)) {
            items.append(DBusMenuItem{.id = id, .properties = propertiesOf(id, propertyNames)});
        }
    }
    return items;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name) {
    const QVariantMap properties = known(id) ? propertiesOf(id, {name}) : QVariantMap{};
    if (!properties.contains(name)) {
        refuse(QStringLiteral("La entrada %1 del menú no tiene la propiedad «%2».").arg(id).arg(name));
        return QDBusVariant(QString());
    }
    return QDBusVariant(properties.value(name));
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    if (!handle(id, eventId)) {
        refuse(QStringLiteral("No hay ninguna entrada %1 en el menú.").arg(id));
    }
}

QList<int> DBusMenu::EventGroup(const QList<DBusMenuEvent>& events) {
    QList<int> unknown;
    for (const DBusMenuEvent& event : events) {
        if (!handle(event.id, event.eventId)) {
            unknown.append(event.id);
        }
    }
    if (!events.isEmpty() && unknown.size() == events.size()) {
        refuse(QStringLiteral("Ninguna de las entradas existe en el menú."));
    }
    return unknown;
}

bool DBusMenu::AboutToShow(int id) {
    if (!known(id)) {
        refuse(QStringLiteral("No hay ninguna entrada %1 en el menú.").arg(id));
        return false;
    }
    return id == 0 && openedByHost();
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    QList<int> updatesNeeded;
    for (const int id : ids) {
        if (!known(id)) {
            idErrors.append(id);
        } else if (id == 0 && openedByHost()) {
            updatesNeeded.append(id);
        }
    }
    return updatesNeeded;
}

bool DBusMenu::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionRemoved:
        m_layoutChanged = true;
        changeLater();
        break;
    case QEvent::ActionChanged:
        if (const auto id = m_ids.constFind(static_cast<QActionEvent*>(event)->action()); id != m_ids.constEnd()) {
            m_changed.insert(*id);
            changeLater();
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

DBusMenuLayout DBusMenu::layoutOf(int id, QMenu* menu, int depth, const QStringList& names) {
    DBusMenuLayout node{.id = id, .properties = propertiesOf(id, names), .children = {}};
    if (menu == nullptr || depth == 0) {
        return node;
    }
    follow(menu);
    for (QAction* action : menu->actions()) {
        node.children.push_back(layoutOf(idOf(action), action->menu(), depth - 1, names));
    }
    return node;
}

QVariantMap DBusMenu::propertiesOf(int id, const QStringList& names) {
    if (id == 0) {
        return only({{submenuKey, QStringLiteral("submenu")}}, names);
    }
    QVariantMap properties = entryProperties(*actionOf(id));
    m_sent.insert(id, properties);
    return only(std::move(properties), names);
}

int DBusMenu::idOf(QAction* action) {
    if (const auto found = m_ids.constFind(action); found != m_ids.constEnd()) {
        return *found;
    }
    const int id = m_nextId++;
    m_ids.insert(action, id);
    m_actions.insert(id, action);
    connect(action, &QObject::destroyed, this, [this, id](QObject* gone) {
        m_ids.remove(gone);
        m_actions.remove(id);
        m_sent.remove(id);
        m_changed.remove(id);
    });
    return id;
}

QAction* DBusMenu::actionOf(int id) const { return m_actions.value(id).data(); }

void DBusMenu::follow(QMenu* menu) {
    // Installed again, a filter is only moved to the front: each menu tells it once.
    menu->installEventFilter(this);
}

// Hosts announce an opening once or twice: AboutToShow then "opened" (libdbusmenu-qt: KDE Plasma,
// LXQt), "opened" then AboutToShow (GNOME's AppIndicator extension, which also calls AboutToShow
// alone when it first reads the menu).
void DBusMenu::announced(Announcement announcement) {
    if (m_menu == nullptr) {
        return;
    }
    const QString host = caller();
    if (const auto opening = m_openings.find(host); opening != m_openings.end() && (*opening & announcement) == 0) {
        *opening |= announcement;
        return;
    }
    m_openings.insert(host, announcement);
    watch(host);
    MenuViews::of(*m_menu).open(host);
}

// The application rebuilds the menu as it opens; the host hears of it before it reads it. True
// when the menu changed.
bool DBusMenu::openedByHost() {
    const uint before = m_revision;
    announced(aboutToShowCall);
    sendChanges();
    return m_revision != before;
}

// The host's unique bus name; none for a call from this process.
QString DBusMenu::caller() const { return calledFromDBus() ? message().service() : QString(); }

void DBusMenu::closedBy(const QString& host) {
    if (m_openings.remove(host) && m_menu != nullptr) {
        MenuViews::of(*m_menu).close(host);
    }
}

void DBusMenu::closeForHosts() {
    for (const QString& host : m_openings.keys()) {
        closedBy(host);
    }
}

// A host that leaves the bus with the menu open never says it closed.
void DBusMenu::watch(const QString& host) {
    if (!calledFromDBus()) {
        return;
    }
    QDBusConnection bus = connection();
    if (bus.name() != m_watchedOn) {
        m_watchedOn = bus.name();
        m_watched.clear();
    }
    if (m_watched.contains(host) || !watchOwner(bus, host, true)) {
        return;
    }
    m_watched.insert(host);
    // A host gone before the watch began: the bus answers after it has taken the watch.
    auto* present = new QDBusPendingCallWatcher(bus.interface()->asyncCall(QStringLiteral("NameHasOwner"), host), this);
    connect(present, &QDBusPendingCallWatcher::finished, this, [this, host](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (const QDBusPendingReply<bool> reply = *call; reply.isValid() && !reply.value()) {
            hostOwnerChanged(host, host, QString());
        }
    });
}

// Not a QDBusServiceWatcher: it would hold the connection, which the item closes to leave the bus.
bool DBusMenu::watchOwner(QDBusConnection bus, const QString& host, bool on) {
    const QString service = QStringLiteral("org.freedesktop.DBus");
    const QString path = QStringLiteral("/org/freedesktop/DBus");
    const QString signal = QStringLiteral("NameOwnerChanged");
    const char* slot = SLOT(hostOwnerChanged(QString, QString, QString));
    return on ? bus.connect(service, path, service, signal, {host}, QString(), this, slot)
              : bus.disconnect(service, path, service, signal, {host}, QString(), this, slot);
}

void DBusMenu::hostOwnerChanged(const QString& host, const QString&, const QString& newOwner) {
    if (!newOwner.isEmpty() || !m_watched.remove(host)) {
        return;
    }
    watchOwner(QDBusConnection(m_watchedOn), host, false);
    closedBy(host);
}

bool DBusMenu::handle(int id, const QString& eventId) {
    if (!known(id)) {
        return false;
    }
    if (eventId == QLatin1String("clicked")) {
        QAction* action = actionOf(id);
        if (action != nullptr && action->isEnabled() && !action->isSeparator() && action->menu() == nullptr) {
            action->trigger();
        }
    } else if (eventId == QLatin1String("opened") && id == 0) {
        announced(openedEvent);
    } else if (eventId == QLatin1String("closed") && id == 0) {
        closedBy(caller());
    }
    return true;
}

void DBusMenu::changeLater() {
    if (m_changeQueued) {
        return;
    }
    m_changeQueued = true;
    QTimer::singleShot(0, this, [this] { sendChanges(); });
}

void DBusMenu::sendChanges() {
    m_changeQueued = false;
    QList<int> changed(m_changed.begin(), m_changed.end());
    m_changed.clear();
    std::sort(changed.begin(), changed.end());
    QList<DBusMenuItem> updated;
    QList<DBusMenuItemKeys> removed;
    for (const int id : changed) {
        const auto sent = m_sent.find(id);
        const QAction* action = actionOf(id);
        if (sent == m_sent.end() || action == nullptr) {
            continue;
        }
        const QVariantMap now = entryProperties(*action);
        // An entry that gains or loses a submenu changes the menu's shape.
        if (now.contains(submenuKey) != sent->contains(submenuKey)) {
            m_layoutChanged = true;
            break;
        }
        DBusMenuItem differing{.id = id, .properties = {}};
        DBusMenuItemKeys gone{.id = id, .names = {}};
        for (auto property = now.begin(); property != now.end(); ++property) {
            if (sent->value(property.key()) != property.value()) {
                differing.properties.insert(property.key(), property.value());
            }
        }
        for (auto property = sent->begin(); property != sent->end(); ++property) {
            if (!now.contains(property.key())) {
                gone.names.append(property.key());
            }
        }
        *sent = now;
        if (!differing.properties.isEmpty()) {
            updated.append(std::move(differing));
        }
        if (!gone.names.isEmpty()) {
            removed.append(std::move(gone));
        }
    }
    if (m_layoutChanged) {
        // Hosts read the whole menu again: what changed in it comes with it.
        m_layoutChanged = false;
        ++m_revision;
        Q_EMIT LayoutUpdated(m_revision, 0);
        return;
    }
    if (!updated.isEmpty() || !removed.isEmpty()) {
        Q_EMIT ItemsPropertiesUpdated(updated, removed);
    }
}

void DBusMenu::refuse(const QString& why) {
    if (calledFromDBus()) {
        sendErrorReply(QDBusError::InvalidArgs, why);
    }
}

} // namespace quenlitor::platform::qt
