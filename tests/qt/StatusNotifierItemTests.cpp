// The status item as StatusNotifierItem hosts see it: its menu over com.canonical.dbusmenu, the
// menu opening at the icon when a host asks, and the item on a real bus with a watcher that
// comes, goes and comes back.
#include "platform/qt/StatusNotifierItem.hpp"

#include "FakeWatcher.hpp"
#include "QtTestSupport.hpp"
#include "platform/qt/QtMenu.hpp"
#include "platform/qt/QtStatusItem.hpp"
#include "platform/qt/QtStatusWindow.hpp"
#include "support/Missing.hpp"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QScreen>

#include <functional>
#include <map>

namespace quenlitor::platform::qt {
namespace {

using testing::FakeTrayHosts;
using testing::processEventsUntil;
using TrayKind = FakeTrayHosts::TrayKind;
using Strings = std::vector<std::string>;

// An entry as a host draws it: label, "(off)" when disabled, checkmark, ">" for a submenu, then
// the entries sent with it; "---" for a separator.
std::string drawn(const DBusMenuLayout& entry) {
    const QVariantMap& properties = entry.properties;
    std::string text = properties.value("type") == "separator" ? "---" : properties.value("label").toString().toStdString();
    text += properties.value("enabled", true).toBool() ? "" : " (off)";
    if (properties.value("toggle-type") == "checkmark") {
        text = (properties.value("toggle-state") == 1 ? "[x] " : "[ ] ") + text;
    }
    text += properties.value("children-display") == "submenu" ? " >" : "";
    for (const DBusMenuLayout& child : entry.children) {
        text += " {" + drawn(child) + "}";
    }
    return text;
}

DBusMenuLayout layoutOf(DBusMenu& exported, int id = 0, int depth = -1, const QStringList& names = {}) {
    DBusMenuLayout layout;
    exported.GetLayout(id, depth, names, layout);
    return layout;
}

int idOf(DBusMenu& exported, const QString& label) {
    for (const DBusMenuLayout& child : layoutOf(exported).children) {
        if (child.properties.value("label") == label) {
            return child.id;
        }
    }
    return -1;
}

void click(DBusMenu& exported, int id, const char* event = "clicked") { exported.Event(id, event, QDBusVariant(0), 0); }

// A small menu with a checked command, the characters menus treat specially, a submenu and a
// disabled command; every chosen command is recorded.
struct TestMenu {
    TestMenu() {
        add("Incluir título")->setState(true);
        menu->addItem(QtMenuItem::create({}, true));
        add("Teclado & Co_1");
        add("Entradas")->setSubmenu(submenu);
        add("Actualizar", submenu);
        add("Copiar")->setEnabled(false);
        add("Salir");
    }
    std::shared_ptr<QtMenuItem> add(const std::string& title, const std::shared_ptr<QtMenu>& into = {}) {
        auto item = QtMenuItem::create(title, false);
        item->setAction([this, title](MenuItem&) { chosen.push_back(title); });
        (into ? into : menu)->addItem(item);
        return item;
    }
    std::shared_ptr<QtMenu> menu = QtMenu::create();
    std::shared_ptr<QtMenu> submenu = QtMenu::create();
    Strings chosen;
};

// Hosts read the menu as Qt shows it, and choose only what can be chosen.
TEST(DBusMenu, HostsReadTheMenuAsItIsShownAndChooseFromIt) {
    TestMenu application;
    DBusMenu exported;
    exported.setMenu(application.menu->qmenu());
    const int inputs = idOf(exported, "Entradas");
    const struct {
        const char* name;
        int id;
        int depth;
        QStringList names;
        std::string drawn;
    } rows[] = {
        {"the whole menu: '&' as itself, '_' doubled, as '_' marks an access key", 0, -1, {},
         " > {[x] Incluir título} {---} {Teclado & Co__1} {Entradas > {Actualizar}} {Copiar (off)} {Salir}"},
        {"one level: the submenu's entries are not sent", 0, 1, {},
         " > {[x] Incluir título} {---} {Teclado & Co__1} {Entradas >} {Copiar (off)} {Salir}"},
        {"a submenu alone, only the labels asked for", inputs, -1, {"label"}, "Entradas {Actualizar}"},
        {"an entry that does not exist: nothing", 9999, -1, {}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const DBusMenuLayout layout = layoutOf(exported, row.id, row.depth, row.names);
        EXPECT_EQ(layout.id, row.id);
        EXPECT_EQ(drawn(layout), row.drawn);
    }
    EXPECT_EQ(exported.GetGroupProperties({9999, inputs}, {"label"}).value(0).properties, (QVariantMap{{"label", "Entradas"}}))
        << "entries that do not exist are left out";
    EXPECT_EQ(idOf(exported, "Entradas"), inputs) << "an entry keeps its id";

    const int quit = idOf(exported, "Salir");
    for (const int id : {idOf(exported, "Copiar"), inputs, 9999}) {
        click(exported, id);
    }
    EXPECT_TRUE(application.chosen.empty()) << "disabled entries, submenus and unknown ids choose nothing";
    click(exported, quit, "hovered");
    click(exported, quit);
    exported.EventGroup({{.id = layoutOf(exported, inputs).children.at(0).id, .eventId = "clicked", .data = QDBusVariant(0), .timestamp = 0}});
    EXPECT_EQ(application.chosen, (Strings{"Salir", "Actualizar"}));

    // After a rebuild the old ids choose nothing, even once their actions are gone.
    application.menu->removeAllItems();
    application.add("Pausar");
    testing::deleteLaterObjects();
    click(exported, quit);
    click(exported, idOf(exported, "Pausar"));
    EXPECT_EQ(application.chosen, (Strings{"Salir", "Actualizar", "Pausar"}));
}

// Each opening a host announces reaches the application once, whichever of AboutToShow and
// "opened" it sends, in either order; the same announcement again is a new opening, even
// without a "closed" between them. With the window and Qt's popup on the same menu, the
// application hears one story, closed with the last of them.
TEST(DBusMenu, EveryOpeningAHostAnnouncesReachesTheApplicationOnce) {
    const struct {
        const char* name;
        Strings sent;
        Strings told;
    } rows[] = {
        {"AboutToShow then opened (KDE Plasma, LXQt)", {"show", "opened", "closed", "closed"}, {"open", "close"}},
        {"opened then AboutToShow (GNOME)", {"opened", "show", "closed"}, {"open", "close"}},
        {"GNOME reads the menu first, then opens it", {"show", "opened", "show", "closed"}, {"open", "close", "open", "close"}},
        {"AboutToShowGroup", {"group", "group", "closed"}, {"open", "close", "open", "close"}},
        {"a submenu's opening is part of its menu's", {"show", "submenu", "opened"}, {"open"}},
        {"a menu replaced while open closes first", {"show", "replaced"}, {"open", "close"}},
        {"the window, the popup and a host", {"window", "show", "opened", "popup", "unpop", "closed", "unwindow"},
         {"open", "close", "open", "close", "open", "close"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestMenu application;
        const auto delegate = std::make_shared<testing::RecordingMenuDelegate>();
        application.menu->setDelegate(delegate);
        DBusMenu exported;
        exported.setMenu(application.menu->qmenu());
        QtStatusWindow window;
        window.setMenu(application.menu);
        const std::map<std::string, std::function<void()>> send{
            {"show", [&] { exported.AboutToShow(0); }},
            {"submenu", [&] { EXPECT_FALSE(exported.AboutToShow(idOf(exported, "Entradas"))); }},
            {"group", [&] { QList<int> errors; exported.AboutToShowGroup({0}, errors); }},
            {"replaced", [&] { exported.setMenu(nullptr); }},
            {"window", [&] { window.present(); }},
            {"unwindow", [&] { window.hide(); }},
            {"popup", [&] { application.menu->qmenu()->popup(QPoint(10, 10)); }},
            {"unpop", [&] { application.menu->qmenu()->hide(); }},
        };
        for (const std::string& sent : row.sent) {
            send.contains(sent) ? send.at(sent)() : click(exported, 0, sent.c_str());
        }
        EXPECT_EQ(delegate->events, row.told);
    }
}

// Changes reach hosts once the events waiting have run, and only what changed; an opening that
// rebuilds the menu is announced before AboutToShow answers.
TEST(DBusMenu, ChangesReachHostsOnceTheEventsWaitingHaveRun) {
    struct Application final : MenuDelegate, TestMenu {
        void menuWillOpen(Menu&) override {
            menu->removeAllItems();
            add("Pausar captura");
        }
        void menuDidClose(Menu&) override {}
    };
    const auto application = std::make_shared<Application>();
    DBusMenu exported;
    exported.setMenu(application->menu->qmenu());
    layoutOf(exported);
    QCoreApplication::processEvents();
    const uint revision = exported.revision();
    Strings sent;
    QObject::connect(&exported, &DBusMenu::ItemsPropertiesUpdated, [&](const QList<DBusMenuItem>& updated, const auto&) {
        const QVariantMap& properties = updated.value(0).properties;
        sent.push_back(QStringList(properties.keys()).join(' ').toStdString() + " = " + properties.value("label").toString().toStdString());
    });
    QObject::connect(&exported, &DBusMenu::LayoutUpdated, [&](uint now) { sent.push_back("layout +" + std::to_string(now - revision)); });

    const auto copy = std::dynamic_pointer_cast<QtMenuItem>(application->menu->items().at(4));
    copy->setTitle("Copiar_último");
    copy->setEnabled(true);
    EXPECT_TRUE(sent.empty()) << "not before the events waiting have run";
    QCoreApplication::processEvents();
    EXPECT_EQ(sent, (Strings{"enabled label = Copiar__último"})) << "both in one signal, only what changed";

    // An entry that gains a submenu changes the menu's shape.
    copy->setSubmenu(QtMenu::create());
    QCoreApplication::processEvents();
    EXPECT_EQ(sent.back(), "layout +1");

    application->menu->setDelegate(application);
    EXPECT_TRUE(exported.AboutToShow(0));
    EXPECT_EQ(sent.back(), "layout +2");
    QCoreApplication::processEvents();
    EXPECT_EQ(sent.size(), 3U) << "announced once";
}

// Hosts without menus of their own ask for it with the icon's position (swaybar; KDE Plasma
// through Activate): the menu opens with a corner there, above or left of it where the screen
// ends, never over the icon.
TEST(StatusNotifierItem, AHostAskingForTheMenuGetsItAtTheIcon) {
    const auto item = QtStatusItem::create(std::make_shared<FakeTrayHosts>(TrayKind::statusNotifier), {});
    TestMenu application;
    item->setMenu(application.menu);
    StatusNotifierItem& notifier = *item->statusNotifier();
    QMenu& shown = *application.menu->qmenu();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const struct {
        const char* name;
        void (StatusNotifierItem::*request)(int, int);
        QPoint icon;
    } rows[] = {
        {"Activate under a top panel", &StatusNotifierItem::Activate, {screen.left() + 100, screen.top() + 10}},
        {"ContextMenu under a top panel", &StatusNotifierItem::ContextMenu, {screen.left() + 300, screen.top() + 5}},
        {"Activate above a bottom panel, right", &StatusNotifierItem::Activate, screen.bottomRight() - QPoint(10, 10)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        (notifier.*row.request)(row.icon.x(), row.icon.y());
        ASSERT_TRUE(shown.isVisible());
        const QRect menu = shown.geometry();
        int nearest = INT_MAX;
        for (const QPoint corner : {menu.topLeft(), menu.topRight(), menu.bottomLeft(), menu.bottomRight()}) {
            nearest = std::min(nearest, (corner - row.icon).manhattanLength());
        }
        EXPECT_LE(nearest, 2) << "a corner at the icon";
        EXPECT_TRUE(screen.contains(menu)) << "the whole menu on the screen";
        EXPECT_FALSE(menu.adjusted(1, 1, -1, -1).contains(row.icon)) << "never over the icon";
        (notifier.*row.request)(row.icon.x(), row.icon.y());
        EXPECT_FALSE(shown.isVisible()) << "a second click takes it away";
    }
}

// A call from the bus connection `from` (the test's own by default), waiting in an event loop:
// the item answers on this thread.
QDBusMessage call(const QString& service, const QString& path, const QString& method, const QVariantList& arguments,
                  const QString& from = {}, QDBus::CallMode mode = QDBus::BlockWithGui) {
    const bool menu = path == "/MenuBar";
    QDBusMessage message = QDBusMessage::createMethodCall(
        service, path, menu ? "com.canonical.dbusmenu" : "org.freedesktop.DBus.Properties", method);
    message.setArguments(menu ? arguments : QVariantList{"org.kde.StatusNotifierItem"} + arguments);
    return (from.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(from)).call(message, mode, 5000);
}

QVariant property(const QString& service, const QString& name) {
    return call(service, "/StatusNotifierItem", "Get", {name}).arguments().value(0).value<QDBusVariant>().variant();
}

// On a real bus, with the signatures hosts expect, through a watcher that restarts. A host that
// ends with the menu open (a panel that crashes) never says it closed: its leaving the bus closes
// the menu, even before the application read its opening; the item leaving the bus ends every
// host's opening.
TEST(StatusNotifierItem, OnTheBusHostsFindReadAndUseIt) {
    if (!testing::sessionBusRuns) {
        QUENLITOR_MISSING("dbus-daemon is missing: no bus to test on");
    }
    testing::FakeWatcher watcher(QStringLiteral("fake-watcher"));
    ASSERT_TRUE(watcher.start());
    const auto item = QtStatusItem::create(std::make_shared<FakeTrayHosts>(TrayKind::statusNotifier), {});
    TestMenu application;
    const auto delegate = std::make_shared<testing::RecordingMenuDelegate>();
    application.menu->setDelegate(delegate);
    item->setMenu(application.menu);
    item->button()->setAccessibilityLabel("Quenlitor MIDI a Texto");
    item->button()->setToolTip("toca, suelta y pega");
    ASSERT_TRUE(processEventsUntil([&] { return !watcher.registered.empty(); }));
    const QString service = watcher.registered.back();

    EXPECT_EQ(property(service, "Title"), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(property(service, "Status"), QStringLiteral("Active"));
    EXPECT_EQ(property(service, "ItemIsMenu"), true);
    EXPECT_EQ(property(service, "Menu").value<QDBusObjectPath>().path(), QStringLiteral("/MenuBar"));
    EXPECT_EQ(qdbus_cast<DBusToolTip>(property(service, "ToolTip")).title, QStringLiteral("toca, suelta y pega"));
    const DBusImage pixmap = qdbus_cast<DBusImages>(property(service, "IconPixmap")).value(0);
    EXPECT_TRUE(pixmap.width > 0 && pixmap.pixels.size() == pixmap.width * pixmap.height * 4) << "ARGB32, 4 bytes a pixel";

    const QDBusMessage layout = call(service, "/MenuBar", "GetLayout", {0, -1, QStringList()});
    EXPECT_EQ(layout.signature(), QStringLiteral("u(ia{sv}av)")) << layout.errorMessage().toStdString();
    const auto menu = qdbus_cast<DBusMenuLayout>(layout.arguments().value(1));
    EXPECT_EQ(drawn(menu.children.at(3)), "Entradas > {Actualizar}");
    QVariantList event{menu.children.at(5).id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0U};
    call(service, "/MenuBar", "Event", event);
    EXPECT_EQ(application.chosen, Strings{"Salir"});
    EXPECT_EQ(call(service, "/MenuBar", "GetLayout", {9999, -1, QStringList()}).type(), QDBusMessage::ErrorMessage)
        << "an entry that does not exist is an error";

    // A panel that restarts brings a new watcher, which learns of the item again.
    watcher.stop();
    watcher.registered.clear();
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(processEventsUntil([&] { return !watcher.registered.empty(); }));
    EXPECT_EQ(watcher.registered.back(), service);

    QDBusConnectionInterface& names = *QDBusConnection::sessionBus().interface();
    event = {0, "opened", QVariant::fromValue(QDBusVariant(0)), 0U};
    for (const QDBus::CallMode mode : {QDBus::BlockWithGui, QDBus::NoBlock}) {
        SCOPED_TRACE(mode == QDBus::NoBlock ? "gone before the application read its opening" : "gone after");
        delegate->events.clear();
        const QString unique = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "dying-host").baseService();
        call(service, "/MenuBar", "AboutToShow", {0}, "dying-host", mode);
        call(service, "/MenuBar", "Event", event, "dying-host", mode);
        // Sent: the bus answers this host in order.
        QDBusConnection("dying-host").interface()->isServiceRegistered(unique);
        QDBusConnection::disconnectFromBus("dying-host");
        while (mode == QDBus::NoBlock && names.isServiceRegistered(unique)) {
        }
        EXPECT_TRUE(processEventsUntil([&] { return delegate->events == Strings{"open", "close"}; }));
    }
    delegate->events.clear();
    call(service, "/MenuBar", "AboutToShow", {0});
    item->statusNotifier()->hide();
    EXPECT_EQ(delegate->events, (Strings{"open", "close"}));
}

} // namespace
} // namespace quenlitor::platform::qt
