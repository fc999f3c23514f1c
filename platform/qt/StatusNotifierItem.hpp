#pragma once

#include "DBusMenu.hpp"
#include "DBusTrayTypes.hpp"

#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>

class QDBusServiceWatcher;
class QMenu;

namespace quenlitor::platform::qt {

// The status item as StatusNotifierItem hosts show it (KDE Plasma, Xfce's panel, swaybar, GNOME's
// AppIndicator extension): org.kde.StatusNotifierItem at /StatusNotifierItem and its menu over
// com.canonical.dbusmenu at /MenuBar, on a connection of its own to the session bus, registered
// with the session's StatusNotifierWatcher and again with every watcher that starts later.
//
// The item is a menu (ItemIsMenu): hosts that draw menus show it on either click, and the others
// call Activate or ContextMenu with the position of the icon, where the application shows it.
// Qt's own item drops that position and opens the menu under the mouse pointer, which on XWayland
// is wherever the pointer last was over an X11 window.
//
// Nothing here waits for another process: the bus name and the registration are asked for
// asynchronously, and what the bus and the watcher answer, and every read of the item's
// properties by a host, is told through the callbacks.
class StatusNotifierItem final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ noName)
    Q_PROPERTY(QString IconName READ noName)
    Q_PROPERTY(quenlitor::platform::qt::DBusImages IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ noName)
    Q_PROPERTY(quenlitor::platform::qt::DBusImages OverlayIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionIconName READ noName)
    Q_PROPERTY(quenlitor::platform::qt::DBusImages AttentionIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionMovieName READ noName)
    Q_PROPERTY(quenlitor::platform::qt::DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menuPath)

public:
    // `id`: the item's lasting name, which hosts use to remember where the user put it. The item
    // goes on the bus at `busAddress`, the session bus when empty.
    explicit StatusNotifierItem(QString id, QString busAddress = {}, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    void setTitle(const QString& title);
    void setIcon(const QIcon& icon);
    void setToolTip(const QString& toolTip);
    void setMenu(QMenu* menu) { m_menu->setMenu(menu); }
    // Tells hosts that the title and icon changed, so that every host showing the item reads it.
    void askHostsToRead();
    DBusMenu& dbusMenu() const { return *m_menu; }

    // Puts the item on the session bus, then asks for its name and registers it; false where the
    // bus cannot be reached. A refusal later is told through onRefused.
    bool show();
    // Takes the item off the bus: hosts drop it at once.
    void hide();
    bool isVisible() const { return !m_connectionName.isEmpty(); }
    // The item's bus name while it is shown, "org.kde.StatusNotifierItem-PID-N".
    const QString& serviceName() const { return m_serviceName; }

    // Called when a host asks for the menu, with the position of the icon on the screen (the
    // pointer's when the host does not say).
    std::function<void(QPoint)> onMenuRequested;
    // Called when the bus refuses the item's name or the watcher answers its registration with an
    // error; a watcher that leaves or stays silent is not a refusal.
    std::function<void()> onRefused;
    // Called once the events waiting have run after a host read any of the item's properties:
    // the proof that a host shows it, which a watcher's answer is not.
    std::function<void()> onRead;

    // The properties as hosts read them: each read is noted.
    QString category() const { return read(QStringLiteral("ApplicationStatus")); }
    QString id() const { return read(m_id); }
    QString title() const { return read(m_title); }
    QString status() const { return read(QStringLiteral("Active")); }
    int windowId() const { return read(0); }
    QString noName() const { return read(QString()); }
    DBusImages noImages() const { return read(DBusImages()); }
    DBusImages iconPixmap() const { return read(m_icon); }
    DBusToolTip toolTip() const;
    bool itemIsMenu() const { return read(true); }
    QDBusObjectPath menuPath() const;

public Q_SLOTS:
    void Activate(int x, int y);
    void ContextMenu(int x, int y);
    void SecondaryActivate(int x, int y);
    void Scroll(int delta, const QString& orientation);

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    void nameAnswered(bool owned);
    void registerWithWatcher();
    void requestMenu(int x, int y);
    template <typename Value>
    Value read(Value value) const {
        noteRead();
        return value;
    }
    void noteRead() const;
    void refused();

    QString m_id;
    QString m_busAddress;
    QString m_title;
    QString m_toolTip;
    DBusImages m_icon;
    DBusMenu* m_menu;
    QString m_connectionName;
    QString m_serviceName;
    QDBusServiceWatcher* m_watcher = nullptr;
    // A read already waits to be told: a host reading every property is one read.
    mutable bool m_readPending = false;
};

} // namespace quenlitor::platform::qt
