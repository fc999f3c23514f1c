// The status item where the desktop has a tray and where it has none: the window that stands in
// for the tray, the moves between the two as trays come and go, the raise on a second start, and
// quitting by signal while the application waits for a tray. Trays are played by a fake, on Qt's
// platform without a display.
#include "platform/qt/QtStatusItem.hpp"

#include "AppDelegate.hpp"
#include "QtTestSupport.hpp"
#include "platform/memory/MemoryBundleResources.hpp"
#include "platform/memory/MemoryClipboard.hpp"
#include "platform/memory/MemoryMIDIPlatform.hpp"
#include "platform/memory/MemorySettingsStore.hpp"
#include "platform/qt/QtApplication.hpp"
#include "platform/qt/QtMainQueue.hpp"
#include "platform/qt/QtMenu.hpp"
#include "platform/qt/QtRunningInstances.hpp"
#include "platform/qt/QtStatusWindow.hpp"
#include "platform/qt/TrayHosts.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <csignal>
#include <fstream>

namespace quenlitor::platform::qt {
namespace {

using namespace std::chrono_literals;
using testing::deleteLaterObjects;
using testing::FakeTrayHosts;
using TrayKind = FakeTrayHosts::TrayKind;
using testing::processEventsUntil;
using testing::RecordingMenuDelegate;

// What a person sees of one item of the window: its kind, text, whether it can be used, and its mark.
std::string seen(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return "label " + label->text().toStdString();
    }
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        return std::string(box->isChecked() ? "[x] " : "[ ] ") + box->text().toStdString() +
               (box->isEnabled() ? "" : " (off)");
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        return std::string(button->menu() != nullptr ? "menu " : "button ") + button->text().toStdString() +
               (button->isEnabled() ? "" : " (off)");
    }
    return widget != nullptr ? "---" : "none";
}

std::vector<std::string> seenItems(const QtStatusWindow& window) {
    std::vector<std::string> items;
    for (int index = 0; index < window.itemCount(); ++index) {
        items.push_back(seen(window.itemWidget(index)));
    }
    return items;
}

QWidget* widgetTitled(const QtStatusWindow& window, const std::string& text) {
    for (int index = 0; index < window.itemCount(); ++index) {
        const std::string shown = seen(window.itemWidget(index));
        if (shown.find(text) != std::string::npos) {
            return window.itemWidget(index);
        }
    }
    return nullptr;
}

constexpr std::string_view dictionary = R"({"chords": [{"nombre": "", "obligatorias": [0, 4, 7]}]})";

// The whole application, as main() runs it, with the Qt application, status item and menus, and
// in-memory MIDI, clipboard, settings and resources; no tray unless the test brings one.
class WindowedApplication : public ::testing::Test {
protected:
    void SetUp() override {
        bundle->addResource("diccionario_acordes", "json", dictionary);
        midi->setSources({{.endpoint = 7, .name = "Teclado & Co", .uniqueID = {0, 42}}});
        int argc = 0;
        application = std::make_shared<QtApplication>(argc, nullptr, [this] { return hosts; },
                                                      QtStatusItem::Patience{.atStart = 50ms, .afterLoss = 50ms});
        running = std::make_shared<QtRunningInstances>(directory.path());
        // As the Qt desktop wires them.
        running->onActivated = [weak = std::weak_ptr<QtApplication>(application)] {
            if (const auto shown = weak.lock()) {
                shown->activate();
            }
        };
        delegate = std::make_shared<AppDelegate>(Desktop{application, std::make_shared<QtMenuFactory>(), clipboard, settings,
                                                         bundle, running, midi, std::make_shared<QtMainQueue>()});
        application->setDelegate(delegate);
    }

    // Runs the application until `during` has run on its event loop and the loop ended; the
    // status of run().
    int runWhile(const std::function<void()>& during) {
        // A timer, not a posted call: it comes after the launch, which the loop posts to itself.
        QTimer::singleShot(1, [&] {
            during();
            application->terminate();
        });
        QTimer failSafe;
        failSafe.setSingleShot(true);
        QObject::connect(&failSafe, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        failSafe.start(20000);
        return application->run();
    }

    QtStatusItem& item() const { return dynamic_cast<QtStatusItem&>(*delegate->statusItem()); }
    // Whether the application has launched and its item is shown as `shown`.
    bool itemIs(QtStatusItem::Shown shown) const { return delegate->statusItem() != nullptr && item().shown() == shown; }
    QtStatusWindow& window() const { return *item().window(); }
    bool windowShows(const std::string& text) const {
        return item().window() != nullptr && widgetTitled(window(), text) != nullptr;
    }

    testing::TemporaryDirectory directory;
    std::shared_ptr<FakeTrayHosts> hosts = std::make_shared<FakeTrayHosts>();
    std::shared_ptr<memory::MemoryClipboard> clipboard = std::make_shared<memory::MemoryClipboard>();
    std::shared_ptr<memory::MemorySettingsStore> settings = std::make_shared<memory::MemorySettingsStore>();
    std::shared_ptr<memory::MemoryBundleResources> bundle = std::make_shared<memory::MemoryBundleResources>();
    std::shared_ptr<memory::MemoryMIDIPlatform> midi = std::make_shared<memory::MemoryMIDIPlatform>();
    std::shared_ptr<QtApplication> application;
    std::shared_ptr<QtRunningInstances> running;
    std::shared_ptr<AppDelegate> delegate;
};

TEST_F(WindowedApplication, WithoutATrayTheWindowOffersTheWholeMenu) {
    const int status = runWhile([&] {
        ASSERT_TRUE(processEventsUntil([&] { return itemIs(QtStatusItem::Shown::window); }));
        EXPECT_EQ(window().windowTitle(), QStringLiteral("Quenlitor MIDI a Texto"));
        EXPECT_TRUE(window().isVisible());
        EXPECT_FALSE(window().isMinimized());
        ASSERT_TRUE(processEventsUntil([&] { return window().itemCount() == 15; }));
        EXPECT_EQ(seenItems(window()), (std::vector<std::string>{
                                           "label Quenlitor MIDI a Texto",
                                           "label Escuchando · 1 entrada MIDI",
                                           "label Toca una nota o un acorde.",
                                           "---",
                                           "label Todavía no hay un token",
                                           "button Copiar último token (off)",
                                           "menu Últimos tokens (off)",
                                           "---",
                                           "menu Entradas MIDI",
                                           "button Pausar captura",
                                           "[x] Incluir título del esquema",
                                           "button Reiniciar notas retenidas",
                                           "---",
                                           "menu Cómo usar",
                                           "button Salir",
                                       }));
        // A tool tip only where the item has one: a screen reader reads a label's tool tip too.
        EXPECT_EQ(widgetTitled(window(), "Pausar captura")->toolTip(), QString());
        // The submenus are the menu's own.
        auto* inputs = qobject_cast<QPushButton*>(widgetTitled(window(), "Entradas MIDI"));
        ASSERT_NE(inputs, nullptr);
        ASSERT_NE(inputs->menu(), nullptr);
        EXPECT_EQ(inputs->menu()->actions().front()->text(), QStringLiteral("Teclado && Co"));
        EXPECT_TRUE(inputs->menu()->actions().front()->isChecked());

        // Live lines follow a gesture while the window is shown, as in an open menu.
        midi->deliver(7, {{0x90, 60, 100}});
        EXPECT_TRUE(processEventsUntil([&] { return windowShows("label Tocando: C4"); }));
        midi->deliver(7, {{0x80, 60, 0}});
        EXPECT_TRUE(processEventsUntil([&] { return windowShows("label \"C4\" C4 ."); }));
        EXPECT_EQ(clipboard->text(), std::optional<std::string>("\"C4\" C4 ."));
        EXPECT_TRUE(processEventsUntil([&] { return windowShows("button Copiar último token") && !windowShows("Copiar último token (off)"); }));

        // A command chosen in the window shows its effect at once, as the menu opened anew does.
        qobject_cast<QPushButton*>(widgetTitled(window(), "Pausar captura"))->click();
        EXPECT_TRUE(processEventsUntil([&] { return windowShows("button Reanudar captura"); }));
        EXPECT_TRUE(windowShows("label Captura en pausa"));
        EXPECT_TRUE(item().qtButton()->appearsDisabled());
        qobject_cast<QCheckBox*>(widgetTitled(window(), "Incluir título del esquema"))->click();
        EXPECT_TRUE(processEventsUntil([&] { return windowShows("[ ] Incluir título del esquema"); }));
        EXPECT_EQ(settings->objectForKey("includeTitle"), std::optional<SettingsValue>(false));

        // A command chosen from a submenu of the window.
        inputs = qobject_cast<QPushButton*>(widgetTitled(window(), "Entradas MIDI"));
        inputs->menu()->actions().front()->trigger();
        emit inputs->menu()->triggered(inputs->menu()->actions().front());
        EXPECT_TRUE(processEventsUntil([&] { return windowShows("label Sin entrada MIDI conectada"); }));
    });
    EXPECT_EQ(status, 0);
}

TEST_F(WindowedApplication, ClosingTheWindowQuitsAsSalirDoes) {
    bool closed = false;
    QTimer::singleShot(1, [&] {
        ASSERT_TRUE(processEventsUntil([&] { return itemIs(QtStatusItem::Shown::window); }));
        closed = window().close();
    });
    QTimer failSafe;
    failSafe.setSingleShot(true);
    QObject::connect(&failSafe, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    failSafe.start(20000);
    EXPECT_EQ(application->run(), 0);
    EXPECT_TRUE(closed);
    EXPECT_EQ(midi->openClients(), 0u) << "the MIDI service was stopped on the way out";
}

// A second start finds the lock taken, asks the running copy to show itself, and gives up.
TEST_F(WindowedApplication, SecondStartRaisesTheRunningWindow) {
    const int status = runWhile([&] {
        ASSERT_TRUE(processEventsUntil([&] { return itemIs(QtStatusItem::Shown::window); }));
        window().showMinimized();
        window().hide();
        QtRunningInstances second(directory.path());
        bool secondActivated = false;
        second.onActivated = [&] { secondActivated = true; };
        EXPECT_FALSE(second.claimSingleInstance("local.quenlitor.midi-texto"));
        EXPECT_TRUE(processEventsUntil([&] { return window().isVisible(); }));
        EXPECT_FALSE(window().isMinimized());
        EXPECT_FALSE(secondActivated);
    });
    EXPECT_EQ(status, 0);
}

TEST_F(WindowedApplication, TraysThatComeAndGoMoveTheItemAndKeepEverything) {
    const int status = runWhile([&] {
        ASSERT_TRUE(processEventsUntil([&] { return itemIs(QtStatusItem::Shown::window); }));
        qobject_cast<QPushButton*>(widgetTitled(window(), "Pausar captura"))->click();
        ASSERT_TRUE(processEventsUntil([&] { return windowShows("button Reanudar captura"); }));
        const auto menu = delegate->menu();

        hosts->set(TrayKind::xembed);
        EXPECT_EQ(item().shown(), QtStatusItem::Shown::xembed);
        ASSERT_NE(item().tray(), nullptr);
        EXPECT_TRUE(item().tray()->isVisible());
        EXPECT_FALSE(window().isVisible());
        EXPECT_EQ(item().tray()->contextMenu(), std::dynamic_pointer_cast<QtMenu>(menu)->qmenu());
        EXPECT_EQ(item().tray()->toolTip(), QStringLiteral("Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V"));
        EXPECT_TRUE(item().qtButton()->appearsDisabled()) << "still paused";
        EXPECT_EQ(item().tray()->icon().cacheKey(), item().qtButton()->icon().cacheKey());

        // A tray that restarts within the patience keeps the item.
        hosts->set(TrayKind::none);
        hosts->set(TrayKind::xembed);
        processEventsUntil([] { return false; }, 150ms);
        EXPECT_EQ(item().shown(), QtStatusItem::Shown::xembed);

        // One that is gone for good gives the window back, with everything as it was.
        hosts->set(TrayKind::none);
        EXPECT_EQ(item().shown(), QtStatusItem::Shown::xembed) << "not before the patience ran out";
        ASSERT_TRUE(processEventsUntil([&] { return itemIs(QtStatusItem::Shown::window); }));
        EXPECT_FALSE(item().tray()->isVisible());
        EXPECT_TRUE(processEventsUntil([&] { return windowShows("button Reanudar captura"); }));
        EXPECT_TRUE(windowShows("label Captura en pausa"));
        EXPECT_EQ(delegate->menu(), menu);
        EXPECT_TRUE(item().qtButton()->appearsDisabled()) << "still paused";
    });
    EXPECT_EQ(status, 0);
}

// The moves as the menu's delegate sees them: the window open is the menu open.
TEST(QtStatusItem, WindowOpensAndClosesTheMenuAsItComesAndGoes) {
    const auto hosts = std::make_shared<FakeTrayHosts>();
    const auto item = QtStatusItem::create(hosts, {.atStart = 20ms, .afterLoss = 20ms});
    const auto menu = QtMenu::create();
    const auto delegate = std::make_shared<RecordingMenuDelegate>();
    menu->setDelegate(delegate);
    auto quit = QtMenuItem::create("Salir", false);
    quit->setAction([](MenuItem&) {});
    menu->addItem(quit);
    item->setMenu(menu);
    item->button()->setAccessibilityLabel("Quenlitor MIDI a Texto");

    EXPECT_EQ(item->shown(), QtStatusItem::Shown::nothing) << "waiting for a tray";
    ASSERT_TRUE(processEventsUntil([&] { return item->shown() == QtStatusItem::Shown::window; }));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"open"}));
    ASSERT_TRUE(processEventsUntil([&] { return item->window()->itemCount() == 1; }));
    qobject_cast<QPushButton*>(item->window()->itemWidget(0))->click();
    EXPECT_TRUE(processEventsUntil([&] { return delegate->events.size() == 3; }));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"open", "close", "open"}));

    hosts->set(TrayKind::xembed);
    EXPECT_EQ(delegate->events.back(), "close");
    hosts->set(TrayKind::none);
    ASSERT_TRUE(processEventsUntil([&] { return item->shown() == QtStatusItem::Shown::window; }));
    EXPECT_EQ(delegate->events.back(), "open");
    EXPECT_EQ(item->window()->windowTitle(), QStringLiteral("Quenlitor MIDI a Texto"));
}

TEST(QtStatusItem, ActivationShowsTheWindowUnlessInATray) {
    const struct {
        const char* name;
        bool tray;
        QtStatusItem::Shown expected;
    } rows[] = {
        {"waiting for a tray: the window at once", false, QtStatusItem::Shown::window},
        {"in a tray: nothing", true, QtStatusItem::Shown::xembed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto hosts = std::make_shared<FakeTrayHosts>();
        hosts->set(row.tray ? TrayKind::xembed : TrayKind::none);
        const auto item = QtStatusItem::create(hosts, {.atStart = 10s, .afterLoss = 10s});
        item->activate();
        EXPECT_EQ(item->shown(), row.expected);
        EXPECT_EQ(item->window() != nullptr && item->window()->isVisible(), !row.tray);
        deleteLaterObjects();
    }
}

TEST(QtStatusItem, WithATrayAtStartNoWindowIsEverMade) {
    const auto hosts = std::make_shared<FakeTrayHosts>();
    hosts->set(TrayKind::xembed);
    const auto item = QtStatusItem::create(hosts, {.atStart = 10ms, .afterLoss = 10ms});
    EXPECT_EQ(item->shown(), QtStatusItem::Shown::xembed);
    processEventsUntil([] { return false; }, 50ms);
    EXPECT_EQ(item->window(), nullptr);
}

TEST(QtRunningInstances, LaterStartsReachTheRunningCopyWhateverItLeftBehind) {
    testing::TemporaryDirectory directory;
    QtRunningInstances probe(directory.path());
    // A socket file left by a copy that crashed.
    std::ofstream(probe.socketPath("id")) << "";
    {
        QtRunningInstances first(directory.path());
        int activations = 0;
        first.onActivated = [&] { ++activations; };
        ASSERT_TRUE(first.claimSingleInstance("id"));
        for (int start = 1; start <= 2; ++start) {
            SCOPED_TRACE(start);
            QtRunningInstances later(directory.path());
            later.onActivated = [] { ADD_FAILURE() << "a later start is never asked to show itself"; };
            EXPECT_FALSE(later.claimSingleInstance("id"));
            EXPECT_TRUE(processEventsUntil([&] { return activations == start; }));
        }
        EXPECT_TRUE(QtRunningInstances(directory.path()).claimSingleInstance("other")) << "another identifier";
    }
    deleteLaterObjects();
    QtRunningInstances next(directory.path());
    EXPECT_TRUE(next.claimSingleInstance("id")) << "once the first copy has ended";
}

// The application waits for a tray inside its event loop, so a signal ends it at once, in order.
TEST(QtApplication, SignalWhileWaitingForATrayQuitsAtOnce) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        std::signal(signal, SIG_DFL);
        int argc = 0;
        const auto hosts = std::make_shared<FakeTrayHosts>();
        auto application = std::make_shared<QtApplication>(argc, nullptr, [hosts] { return hosts; },
                                                           QtStatusItem::Patience{.atStart = 10s, .afterLoss = 10s});
        struct Delegate final : ApplicationDelegate {
            std::shared_ptr<QtApplication> application;
            std::shared_ptr<StatusItem> item;
            std::vector<std::string> events;
            void applicationDidFinishLaunching() override {
                events.push_back("launch");
                item = application->makeStatusItem();
            }
            void applicationWillTerminate() override { events.push_back("terminate"); }
        };
        const auto delegate = std::make_shared<Delegate>();
        delegate->application = application;
        application->setDelegate(delegate);
        QTimer::singleShot(100, [signal] { std::raise(signal); });
        QElapsedTimer elapsed;
        elapsed.start();
        EXPECT_EQ(application->run(), 0);
        EXPECT_LT(elapsed.elapsed(), 2000);
        EXPECT_EQ(delegate->events, (std::vector<std::string>{"launch", "terminate"}));
        const auto& item = dynamic_cast<const QtStatusItem&>(*delegate->item);
        EXPECT_EQ(item.shown(), QtStatusItem::Shown::nothing) << "still waiting when the signal came";
        delegate->application.reset();
        delegate->item.reset();
        application.reset();
        std::signal(signal, SIG_DFL);
    }
}

} // namespace
} // namespace quenlitor::platform::qt
