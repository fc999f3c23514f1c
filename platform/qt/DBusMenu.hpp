#pragma once

#include "DBusTrayTypes.hpp"

#include <QAction>
#include <QDBusConnection>
#include <QDBusContext>
#include <QHash>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSet>

namespace quenlitor::platform::qt {

// A QMenu and its submenus as a StatusNotifierItem host reads them to draw the menu itself:
// the com.canonical.dbusmenu interface, version 3.
//
// - Entry 0 is the menu; every action gets an id of its own the first time a host sees it, kept
//   while the action lives and never given to another.
// - Each host is one of the menu's views (MenuViews), named by its unique bus name. Its opening
//   (AboutToShow or the "opened" event of entry 0, or both, in either order) opens the menu once;
//   the same announcement again is a new opening, rebuilt as any: the host never said the last
//   one closed. Its "closed" event, or its leaving the bus, closes it.
// - "clicked" triggers the action, unless it is disabled, a submenu or gone from the menu.
// - Changes reach hosts once the events waiting have run: new texts, states and checkmarks as
//   ItemsPropertiesUpdated, actions added or removed (a menu rebuilt) as LayoutUpdated with a new
//   revision.
class DBusMenu final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenu(QObject* parent = nullptr);

    // The menu shown; null for none.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu; }
    uint revision() const { return m_revision; }
    // Closes the menu for every host: none can reach it any longer (the connection it is exported
    // on is closing).
    void closeForHosts();

    uint version() const { return 3; }
    QString textDirection() const;
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    // Types written out whole: QtDBus finds them by the names moc writes down.
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   quenlitor::platform::qt::DBusMenuLayout& layout);
    QList<quenlitor::platform::qt::DBusMenuItem> GetGroupProperties(const QList<int>& ids,
                                                                    const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<quenlitor::platform::qt::DBusMenuEvent>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

Q_SIGNALS:
    void ItemsPropertiesUpdated(const QList<quenlitor::platform::qt::DBusMenuItem>& updatedProps,
                                const QList<quenlitor::platform::qt::DBusMenuItemKeys>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    // Not exported: QtDBus exports public slots only.
    void hostOwnerChanged(const QString& host, const QString& oldOwner, const QString& newOwner);

private:
    enum Announcement : unsigned { aboutToShowCall = 1U, openedEvent = 2U };

    DBusMenuLayout layoutOf(int id, QMenu* menu, int depth, const QStringList& names);
    QVariantMap propertiesOf(int id, const QStringList& names);
    int idOf(QAction* action);
    QAction* actionOf(int id) const;
    bool known(int id) const { return id == 0 ? m_menu != nullptr : actionOf(id) != nullptr; }
    void follow(QMenu* menu);
    void announced(Announcement announcement);
    bool openedByHost();
    void closedBy(const QString& host);
    QString caller() const;
    void watch(const QString& host);
    bool watchOwner(QDBusConnection bus, const QString& host, bool on);
    bool handle(int id, const QString& eventId);
    void changeLater();
    void sendChanges();
    void refuse(const QString& why);

    QPointer<QMenu> m_menu;
    // The announcements of each host's opening so far, by host.
    QHash<QString, unsigned> m_openings;
    // Hosts whose leaving the bus is watched, on the connection named.
    QSet<QString> m_watched;
    QString m_watchedOn;
    uint m_revision = 1;
    int m_nextId = 1;
    QHash<const QObject*, int> m_ids;
    QHash<int, QPointer<QAction>> m_actions;
    // What hosts were last told of each entry, to tell them only what changed.
    QHash<int, QVariantMap> m_sent;
    QSet<int> m_changed;
    bool m_layoutChanged = false;
    bool m_changeQueued = false;
};

} // namespace quenlitor::platform::qt
