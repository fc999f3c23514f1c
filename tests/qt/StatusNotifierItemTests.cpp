// The status item as StatusNotifierItem hosts see it: its menu over com.canonical.dbusmenu (the
// layout, openings and closings, clicks, changes as they happen), the menu opening at the icon
// when a host asks, and the item on a real bus with a watcher that comes, goes and comes back.
#include "platform/qt/StatusNotifierItem.hpp"

#include "FakeWatcher.hpp"
#include "QtTestSupport.hpp"
#include "platform/qt/QtMenu.hpp"
#include "platform/qt/QtStatusItem.hpp"
#include "platform/qt/QtStatusWindow.hpp"
#include "support/Missing.hpp"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QGuiApplication>
#include <QScreen>

#include <string>
#include <vector>

namespace quenlitor::platform::qt {
namespace {

using namespace std::chrono_literals;
using testing::FakeTrayHosts;
using testing::FakeWatcher;
using testing::processEventsUntil;
using testing::RecordingMenuDelegate;
using TrayKind = FakeTrayHosts::TrayKind;

// An entry as a host draws it: label, enabled, checkmark, submenu entries; "---" for a separator.
std::string drawn(const DBusMenuLayout& entry) {
    const QVariantMap& properties = entry.properties;
    if (properties.value("type").toString() == "separator") {
        return "---";
    }
    std::string text = properties.value("label").toString().toStdString();
    if (!properties.value("enabled", true).toBool()) {
        text += " (off)";
    }
    if (properties.value("toggle-type").toString() == "checkmark") {
        text = (properties.value("toggle-state").toInt() == 1 ? "[x] " : "[ ] ") + text;
    }
    if (properties.value("children-display").toString() == "submenu") {
        text += " >";
        for (const DBusMenuLayout& child : entry.children) {
            text += " {" + drawn(child) + "}";
        }
    }
    return text;
}

std::vector<std::string> drawnEntries(const DBusMenuLayout& menu) {
    std::vector<std::string> entries;
    for (const DBusMenuLayout& child : menu.children) {
        entries.push_back(drawn(child));
    }
    return entries;
}

DBusMenuLayout layoutOf(DBusMenu& exported, int id = 0, int depth = -1, const QStringList& names = {}) {
    DBusMenuLayout layout;
    exported.GetLayout(id, depth, names, layout);
    return layout;
}

int idOf(DBusMenu& exported, const std::string& label) {
    for (const DBusMenuLayout& child : layoutOf(exported).children) {
        if (child.properties.value("label").toString().toStdString() == label) {
            return child.id;
        }
    }
    return -1;
}

// A menu like the application's: a name line, a checkable command, a submenu, texts with the
// characters menus treat specially, a disabled command; every chosen command is recorded.
struct ApplicationLikeMenu {
    ApplicationLikeMenu() {
        add("Quenlitor MIDI a Texto")->setEnabled(false);
        add("Incluir título")->setState(true);
        menu->addItem(QtMenuItem::create({}, true));
        add("Teclado & Co_1");
        auto inputs = add("Entradas MIDI");
        inputs->setSubmenu(submenu);
        for (const char* title : {"Activar todas las entradas", "Actualizar lista"}) {
            auto item = QtMenuItem::create(title, false);
            item->setAction([this, title](MenuItem&) { chosen.push_back(title); });
            submenu->addItem(item);
        }
        add("Copiar último token")->setEnabled(false);
        add("Salir");
    }

    std::shared_ptr<QtMenuItem> add(const std::string& title) {
        auto item = QtMenuItem::create(title, false);
        item->setAction([this, title](MenuItem&) { chosen.push_back(title); });
        menu->addItem(item);
        return item;
    }

    std::shared_ptr<QtMenu> menu = QtMenu::create();
    std::shared_ptr<QtMenu> submenu = QtMenu::create();
    std::vector<std::string> chosen;
};

TEST(DBusMenu, HostsReadTheMenuAsItIsShown) {
    ApplicationLikeMenu application;
    DBusMenu exported;
    exported.setMenu(application.menu->qmenu());

    const DBusMenuLayout whole = layoutOf(exported);
    EXPECT_EQ(whole.id, 0);
    EXPECT_EQ(whole.properties.value("children-display"), QStringLiteral("submenu"));
    EXPECT_EQ(drawnEntries(whole), (std::vector<std::string>{
                                       "Quenlitor MIDI a Texto (off)",
                                       "[x] Incluir título",
                                       "---",
                                       "Teclado & Co__1",
                                       "Entradas MIDI > {Activar todas las entradas} {Actualizar lista}",
                                       "Copiar último token (off)",
                                       "Salir",
                                   }))
        << "'&' as itself, '_' doubled: a single '_' marks an access key in dbusmenu";

    const int inputs = idOf(exported, "Entradas MIDI");
    const struct {
        const char* name;
        int id;
        int depth;
        QStringList names;
        std::vector<std::string> entries;
    } rows[] = {
        {"a submenu alone", inputs, -1, {}, {"Activar todas las entradas", "Actualizar lista"}},
        {"one level: the submenu's entries are not sent", 0, 1, {}, {}},
        {"only the labels asked for", inputs, -1, {"label"}, {"Activar todas las entradas", "Actualizar lista"}},
        {"an entry that does not exist: nothing", 9999, -1, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const DBusMenuLayout layout = layoutOf(exported, row.id, row.depth, row.names);
        EXPECT_EQ(layout.id, row.id);
        if (row.id == 0) {
            const DBusMenuLayout& submenu = layout.children.at(4);
            EXPECT_TRUE(submenu.children.empty());
            EXPECT_EQ(submenu.properties.value("children-display"), QStringLiteral("submenu"));
        } else {
            EXPECT_EQ(drawnEntries(layout), row.entries);
        }
        for (const DBusMenuLayout& child : layout.children) {
            if (!row.names.isEmpty()) {
                EXPECT_EQ(child.properties.keys(), row.names);
            }
        }
    }

    const int quit = idOf(exported, "Salir");
    EXPECT_EQ(exported.GetProperty(quit, "label").variant(), QStringLiteral("Salir"));
    const QList<DBusMenuItem> group = exported.GetGroupProperties({quit, 9999, inputs}, {"label"});
    ASSERT_EQ(group.size(), 2) << "entries that do not exist are left out";
    EXPECT_EQ(group[1].properties.value("label"), QStringLiteral("Entradas MIDI"));
    EXPECT_EQ(idOf(exported, "Salir"), quit) << "an entry keeps its id";
}

// Each opening a host announces reaches the application once, whichever of AboutToShow and
// "opened" it sends, in either order; the same announcement again is a new opening, even
// without a "closed" between them. With the window and Qt's popup on the same menu, the
// application hears one story, closed with the last of them.
TEST(DBusMenu, EveryOpeningAHostAnnouncesReachesTheApplicationOnce) {
    const struct {
        const char* name;
        std::vector<std::string> sent;
        std::vector<std::string> told;
    } rows[] = {
        {"AboutToShow then opened (KDE Plasma, LXQt)", {"show", "opened", "closed", "closed"}, {"open", "close"}},
        {"opened then AboutToShow (GNOME)", {"opened", "show", "closed"}, {"open", "close"}},
        {"AboutToShow then opened, twice, never closed", {"show", "opened", "show", "opened"},
         {"open", "close", "open"}},
        {"GNOME reads the menu first, then opens it", {"show", "opened", "show", "closed"},
         {"open", "close", "open", "close"}},
        {"AboutToShowGroup", {"group", "group", "closed"}, {"open", "close", "open", "close"}},
        {"a submenu's opening is part of its menu's", {"show", "submenu", "opened"}, {"open"}},
        {"a menu replaced while open closes first", {"show", "replaced"}, {"open", "close"}},
        {"the window, the popup and a host", {"window", "show", "opened", "popup", "unpop", "closed", "unwindow"},
         {"open", "close", "open", "close", "open", "close"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ApplicationLikeMenu application;
        const auto delegate = std::make_shared<RecordingMenuDelegate>();
        application.menu->setDelegate(delegate);
        DBusMenu exported;
        exported.setMenu(application.menu->qmenu());
        QtStatusWindow window;
        window.setMenu(application.menu);
        const auto other = QtMenu::create();
        for (const std::string& sent : row.sent) {
            QList<int> errors;
            if (sent == "show") {
                exported.AboutToShow(0);
            } else if (sent == "submenu") {
                EXPECT_FALSE(exported.AboutToShow(idOf(exported, "Entradas MIDI")));
            } else if (sent == "group") {
                exported.AboutToShowGroup({0}, errors);
            } else if (sent == "replaced") {
                exported.setMenu(other->qmenu());
            } else if (sent == "window" || sent == "unwindow") {
                sent == "window" ? window.present() : window.hide();
            } else if (sent == "popup" || sent == "unpop") {
                sent == "popup" ? application.menu->qmenu()->popup(QPoint(10, 10)) : application.menu->qmenu()->hide();
            } else {
                exported.Event(0, QString::fromStdString(sent), QDBusVariant(0), 0);
            }
        }
        EXPECT_EQ(delegate->events, row.told);
    }
}

TEST(DBusMenu, ClicksChooseOnlyWhatCanBeChosen) {
    ApplicationLikeMenu application;
    DBusMenu exported;
    exported.setMenu(application.menu->qmenu());
    const int inputs = idOf(exported, "Entradas MIDI");
    const int refresh = layoutOf(exported, inputs).children.at(1).id;
    const int copy = idOf(exported, "Copiar último token");
    const int include = idOf(exported, "Incluir título");

    for (const int id : {copy, inputs, idOf(exported, "Quenlitor MIDI a Texto"), 9999}) {
        exported.Event(id, "clicked", QDBusVariant(0), 0);
    }
    EXPECT_TRUE(application.chosen.empty()) << "disabled entries, submenus and unknown ids choose nothing";

    exported.Event(include, "hovered", QDBusVariant(0), 0);
    exported.Event(include, "clicked", QDBusVariant(0), 0);
    exported.EventGroup({{.id = refresh, .eventId = "clicked", .data = QDBusVariant(0), .timestamp = 0}});
    EXPECT_EQ(application.chosen, (std::vector<std::string>{"Incluir título", "Actualizar lista"}));
    EXPECT_EQ(exported.GetProperty(include, "toggle-state").variant(), 1)
        << "the mark shows what the application set, not what a click flipped";

    // After a rebuild the old ids choose nothing, even once their actions are gone.
    application.menu->removeAllItems();
    application.add("Salir");
    testing::deleteLaterObjects();
    exported.Event(include, "clicked", QDBusVariant(0), 0);
    EXPECT_EQ(application.chosen.size(), 2U);
    exported.Event(idOf(exported, "Salir"), "clicked", QDBusVariant(0), 0);
    EXPECT_EQ(application.chosen.back(), "Salir");
}

// What hosts are told, collected as the signals leave.
struct HostSignals {
    explicit HostSignals(DBusMenu& exported) {
        QObject::connect(&exported, &DBusMenu::ItemsPropertiesUpdated, &exported,
                         [this](const QList<DBusMenuItem>& updated, const QList<DBusMenuItemKeys>& removed) {
                             std::string text = "properties";
                             for (const DBusMenuItem& item : updated) {
                                 for (auto property = item.properties.begin(); property != item.properties.end(); ++property) {
                                     text += " " + property.key().toStdString() + "=" + property.value().toString().toStdString();
                                 }
                             }
                             for (const DBusMenuItemKeys& keys : removed) {
                                 text += " -" + keys.names.join(" -").toStdString();
                             }
                             sent.push_back(text);
                         });
        QObject::connect(&exported, &DBusMenu::LayoutUpdated, &exported,
                         [this](uint revision, int parent) {
                             sent.push_back("layout " + std::to_string(revision) + " of " + std::to_string(parent));
                         });
    }
    std::vector<std::string> sent;
};

TEST(DBusMenu, ChangesReachHostsOnceTheEventsWaitingHaveRun) {
    ApplicationLikeMenu application;
    DBusMenu exported;
    exported.setMenu(application.menu->qmenu());
    layoutOf(exported);
    QCoreApplication::processEvents();
    const uint revision = exported.revision();
    HostSignals host(exported);

    const auto copy = std::dynamic_pointer_cast<QtMenuItem>(application.menu->items().at(5));
    copy->setTitle("Copiar_último");
    copy->setEnabled(true);
    EXPECT_TRUE(host.sent.empty()) << "not before the events waiting have run";
    QCoreApplication::processEvents();
    EXPECT_EQ(host.sent, (std::vector<std::string>{"properties enabled=true label=Copiar__último"}))
        << "both changes in one signal, and only what changed";

    host.sent.clear();
    application.menu->removeAllItems();
    application.add("Salir");
    QCoreApplication::processEvents();
    EXPECT_EQ(host.sent, (std::vector<std::string>{"layout " + std::to_string(revision + 1) + " of 0"}));

    // An entry that gains a submenu changes the menu's shape.
    host.sent.clear();
    const auto quit = std::dynamic_pointer_cast<QtMenuItem>(application.menu->items().at(0));
    layoutOf(exported);
    quit->setSubmenu(QtMenu::create());
    QCoreApplication::processEvents();
    EXPECT_EQ(host.sent, (std::vector<std::string>{"layout " + std::to_string(revision + 2) + " of 0"}));
}

// The application rebuilds its menu as it opens: AboutToShow says so, and the host hears of it
// before it reads the menu.
TEST(DBusMenu, AnOpeningThatRebuildsTheMenuIsAnnouncedBeforeTheReply) {
    struct Rebuilding final : MenuDelegate {
        ApplicationLikeMenu* application = nullptr;
        void menuWillOpen(Menu&) override {
            application->menu->removeAllItems();
            application->add("Pausar captura");
        }
        void menuDidClose(Menu&) override {}
    };
    ApplicationLikeMenu application;
    const auto delegate = std::make_shared<Rebuilding>();
    delegate->application = &application;
    application.menu->setDelegate(delegate);
    DBusMenu exported;
    exported.setMenu(application.menu->qmenu());
    layoutOf(exported);
    QCoreApplication::processEvents();
    HostSignals host(exported);

    EXPECT_TRUE(exported.AboutToShow(0));
    EXPECT_EQ(host.sent.size(), 1U);
    EXPECT_EQ(drawnEntries(layoutOf(exported)), (std::vector<std::string>{"Pausar captura"}));
    QCoreApplication::processEvents();
    EXPECT_EQ(host.sent.size(), 1U) << "announced once";
}

// Hosts without menus of their own ask for it with the icon's position (swaybar; KDE Plasma
// through Activate): the menu opens with a corner there, above or left of it where the screen
// ends, never over the icon.
TEST(StatusNotifierItem, AHostAskingForTheMenuGetsItAtTheIcon) {
    const auto item = QtStatusItem::create(std::make_shared<FakeTrayHosts>(TrayKind::statusNotifier), {});
    ApplicationLikeMenu application;
    item->setMenu(application.menu);
    ASSERT_NE(item->statusNotifier(), nullptr);
    StatusNotifierItem& notifier = *item->statusNotifier();
    EXPECT_TRUE(notifier.itemIsMenu());
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
        {"ContextMenu in the middle", &StatusNotifierItem::ContextMenu, screen.center()},
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
        EXPECT_LE(nearest, 2) << "menu at " << menu.x() << "," << menu.y() << " " << menu.width() << "x"
                              << menu.height();
        EXPECT_TRUE(screen.contains(menu)) << "the whole menu on the screen";
        EXPECT_FALSE(menu.adjusted(1, 1, -1, -1).contains(row.icon)) << "never over the icon";
        (notifier.*row.request)(row.icon.x(), row.icon.y());
        EXPECT_FALSE(shown.isVisible()) << "a second click takes it away";
    }
}

// A watcher played by the test on its own connection: it records the items that register.
QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    // The item answers on this thread: the call waits in an event loop.
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, 5000);
}

QVariant property(const QString& service, const QString& name) {
    const QDBusMessage reply = call(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                                    {QStringLiteral("org.kde.StatusNotifierItem"), name});
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

// On a real bus, with the signatures hosts expect, through a watcher that restarts.
TEST(StatusNotifierItem, OnTheBusHostsFindReadAndUseIt) {
    if (!testing::sessionBusRuns) {
        QUENLITOR_MISSING("dbus-daemon is missing: no bus to test on");
    }
    FakeWatcher watcher(QStringLiteral("fake-watcher"));
    ASSERT_TRUE(watcher.start());
    const auto hosts = std::make_shared<FakeTrayHosts>(TrayKind::statusNotifier);
    const auto item = QtStatusItem::create(hosts, {});
    ApplicationLikeMenu application;
    item->setMenu(application.menu);
    item->button()->setAccessibilityLabel("Quenlitor MIDI a Texto");
    item->button()->setToolTip("Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V");
    StatusNotifierItem& notifier = *item->statusNotifier();
    ASSERT_TRUE(notifier.isVisible());
    ASSERT_TRUE(processEventsUntil([&] { return !watcher.registered.empty(); }));
    const QString service = watcher.registered.back();
    EXPECT_EQ(service, notifier.serviceName());

    EXPECT_EQ(property(service, "Title"), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(property(service, "Status"), QStringLiteral("Active"));
    EXPECT_EQ(property(service, "ItemIsMenu"), true);
    EXPECT_EQ(property(service, "Menu").value<QDBusObjectPath>().path(), QStringLiteral("/MenuBar"));
    const auto pixmaps = qdbus_cast<DBusImages>(property(service, "IconPixmap"));
    ASSERT_FALSE(pixmaps.isEmpty());
    for (const DBusImage& pixmap : pixmaps) {
        EXPECT_EQ(pixmap.pixels.size(), pixmap.width * pixmap.height * 4);
    }
    EXPECT_EQ(qdbus_cast<DBusToolTip>(property(service, "ToolTip")).title,
              QStringLiteral("Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V"));

    const QDBusMessage layout = call(service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                                     {0, -1, QStringList()});
    ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
    EXPECT_EQ(layout.signature(), QStringLiteral("u(ia{sv}av)"));
    const auto menu = qdbus_cast<DBusMenuLayout>(layout.arguments().value(1));
    EXPECT_EQ(drawnEntries(menu).at(4), "Entradas MIDI > {Activar todas las entradas} {Actualizar lista}");
    call(service, "/MenuBar", "com.canonical.dbusmenu", "Event",
         {menu.children.at(6).id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0U});
    EXPECT_EQ(application.chosen, (std::vector<std::string>{"Salir"}));
    const QDBusMessage refused = call(service, "/MenuBar", "com.canonical.dbusmenu", "GetLayout", {9999, -1, QStringList()});
    EXPECT_EQ(refused.type(), QDBusMessage::ErrorMessage) << "an entry that does not exist is an error";

    // A panel that restarts brings a new watcher, which learns of the item again.
    watcher.stop();
    watcher.registered.clear();
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(processEventsUntil([&] { return !watcher.registered.empty(); }));
    EXPECT_EQ(watcher.registered.back(), service);

    // An XEmbed tray in its place shows the item at once; a host that reads it takes it back.
    hosts->set(TrayKind::xembed);
    ASSERT_NE(item->tray(), nullptr);
    EXPECT_TRUE(item->tray()->isVisible());
    property(service, "Status");
    EXPECT_TRUE(processEventsUntil([&] { return item->shown() == QtStatusItem::Shown::statusNotifier; }));
    EXPECT_FALSE(item->tray()->isVisible());
    watcher.stop();
}

// A host that ends with the menu open (a panel that crashes) never says it closed: its leaving
// the bus closes the menu, and the next host's first opening reads it rebuilt.
TEST(StatusNotifierItem, AHostLeavingTheBusWithTheMenuOpenClosesIt) {
    if (!testing::sessionBusRuns) {
        QUENLITOR_MISSING("dbus-daemon is missing: no bus to test on");
    }
    struct Application final : MenuDelegate {
        std::shared_ptr<QtMenu> menu = QtMenu::create();
        std::string status;
        std::vector<std::string> events;
        void menuWillOpen(Menu&) override {
            events.push_back("open");
            menu->removeAllItems();
            menu->addItem(QtMenuItem::create(status, false));
        }
        void menuDidClose(Menu&) override { events.push_back("close"); }
    };
    const auto application = std::make_shared<Application>();
    application->menu->setDelegate(application);
    StatusNotifierItem notifier(QStringLiteral("quenlitor-test"));
    notifier.setMenu(application->menu->qmenu());
    ASSERT_TRUE(notifier.show());
    QDBusConnectionInterface& names = *QDBusConnection::sessionBus().interface();
    ASSERT_TRUE(processEventsUntil([&] { return names.isServiceRegistered(notifier.serviceName()).value(); }));
    const auto menuCall = [&](const QString& host, const QString& method, const QVariantList& arguments,
                              QDBus::CallMode mode) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(notifier.serviceName(), "/MenuBar", "com.canonical.dbusmenu", method);
        message.setArguments(arguments);
        return QDBusConnection(host).call(message, mode, 5000);
    };
    const QVariantList opened{0, QStringLiteral("opened"), QVariant::fromValue(QDBusVariant(0)), 0U};

    const struct {
        const char* name;
        QDBus::CallMode mode;
    } rows[] = {
        {"gone after its opening was read", QDBus::BlockWithGui},
        {"gone before the application read its opening", QDBus::NoBlock},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        application->status = "Captura en pausa";
        application->events.clear();
        const QString host = QStringLiteral("dying-host");
        const QString unique = QDBusConnection::connectToBus(QDBusConnection::SessionBus, host).baseService();
        menuCall(host, "AboutToShow", {0}, row.mode);
        menuCall(host, "Event", opened, row.mode);
        // Sent: the bus answers this host in order.
        QDBusConnection(host).interface()->isServiceRegistered(unique);
        QDBusConnection::disconnectFromBus(host);
        if (row.mode == QDBus::NoBlock) {
            // The bus forgets the host while the application has not yet read a word from it.
            while (names.isServiceRegistered(unique)) {
            }
        }
        const std::vector<std::string> openedThenClosed{"open", "close"};
        EXPECT_TRUE(processEventsUntil([&] { return application->events == openedThenClosed; }));

        application->status = "Tocando: C4";
        const QString next = QStringLiteral("next-host");
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, next);
        menuCall(next, "AboutToShow", {0}, QDBus::BlockWithGui);
        const QDBusMessage layout = menuCall(next, "GetLayout", {0, -1, QStringList()}, QDBus::BlockWithGui);
        EXPECT_EQ(drawnEntries(qdbus_cast<DBusMenuLayout>(layout.arguments().value(1))),
                  std::vector<std::string>{"Tocando: C4"});
        QVariantList closed = opened;
        closed[1] = QStringLiteral("closed");
        menuCall(next, "Event", closed, QDBus::BlockWithGui);
        QDBusConnection::disconnectFromBus(next);
        EXPECT_EQ(application->events.back(), "close");
    }

    // The item leaving the bus (the window or an XEmbed tray taking over) ends the hosts' openings.
    application->events.clear();
    const QString last = QStringLiteral("last-host");
    QDBusConnection::connectToBus(QDBusConnection::SessionBus, last);
    menuCall(last, "AboutToShow", {0}, QDBus::BlockWithGui);
    notifier.hide();
    EXPECT_EQ(application->events, (std::vector<std::string>{"open", "close"}));
    QDBusConnection::disconnectFromBus(last);
}

} // namespace
} // namespace quenlitor::platform::qt

