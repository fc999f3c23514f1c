#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusError>
#include <QDBusVariant>
#include <QIcon>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <vector>

// The structures a StatusNotifierItem and its com.canonical.dbusmenu menu send and receive, with
// their D-Bus signatures.
namespace quenlitor::platform::qt {

// Whether an error says only that the peer did not answer in time: silence, not a refusal.
inline bool isSilence(QDBusError::ErrorType error) {
    return error == QDBusError::NoReply || error == QDBusError::Timeout || error == QDBusError::TimedOut;
}

// One size of an icon, (iiay): width, height and ARGB32 pixels in network byte order.
struct DBusImage {
    int width = 0;
    int height = 0;
    QByteArray pixels;
    bool operator==(const DBusImage&) const = default;
};
using DBusImages = QList<DBusImage>;

// Every size an icon holds, as hosts read them.
DBusImages toDBusImages(const QIcon& icon);

// (sa(iiay)ss): an icon name, its pixmaps, a title and a text under it.
struct DBusToolTip {
    QString iconName;
    DBusImages images;
    QString title;
    QString text;
};

// One entry of a menu and its children, (ia{sv}av), each child an entry in a variant.
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    std::vector<DBusMenuLayout> children;
};

// (ia{sv}): some properties of one entry.
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};

// (ias): the names of properties an entry no longer has.
struct DBusMenuItemKeys {
    int id = 0;
    QStringList names;
};

// (isvu): an event a host reports for an entry: "clicked", "hovered", "opened" or "closed".
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};

// Makes the structures above known to QtDBus; needed before an object using them is exported.
void registerDBusTrayTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const DBusImage& image);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusImage& image);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

} // namespace quenlitor::platform::qt

Q_DECLARE_METATYPE(quenlitor::platform::qt::DBusImage)
Q_DECLARE_METATYPE(quenlitor::platform::qt::DBusToolTip)
Q_DECLARE_METATYPE(quenlitor::platform::qt::DBusMenuLayout)
Q_DECLARE_METATYPE(quenlitor::platform::qt::DBusMenuItem)
Q_DECLARE_METATYPE(quenlitor::platform::qt::DBusMenuItemKeys)
Q_DECLARE_METATYPE(quenlitor::platform::qt::DBusMenuEvent)
