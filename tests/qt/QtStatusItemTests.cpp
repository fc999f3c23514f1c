// The status item where the desktop has a tray and where it has none: the window that stands in
// for the tray and offers the menu, the moves between the two as trays come and go, and the
// application quitting from the window or on a signal while it waits for a tray. Trays are played
// by a fake, on Qt's platform without a display.
#include "platform/qt/QtStatusItem.hpp"

#include "QtTestSupport.hpp"
#include "platform/qt/QtApplication.hpp"
#include "platform/qt/QtMenu.hpp"
#include "platform/qt/QtRunningInstances.hpp"
#include "platform/qt/QtStatusWindow.hpp"

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
using testing::FakeTrayHosts;
using testing::processEventsUntil;
using TrayKind = FakeTrayHosts::TrayKind;

// What a person sees of one item of the window: its kind, text, whether it can be used, and its mark.
std::string seen(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return "label " + label->text().toStdString();
    }
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        return (box->isChecked() ? "[x] " : "[ ] ") + box->text().toStdString();
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        return std::string(button->menu() != nullptr ? "menu " : "button ") + button->text().toStdString() +
               (button->isEnabled() ? "" : " (off)");
    }
    return "---";
}

std::vector<std::string> seenItems(const QtStatusWindow& window) {
    std::vector<std::string> items;
    for (int index = 0; index < window.itemCount(); ++index) {
        items.push_back(seen(window.itemWidget(index)));
    }
    return items;
}

// An application that rebuilds its menu as it opens, as the real one does, and records the
// openings and closings.
struct Application final : MenuDelegate {
    std::shared_ptr<QtMenu> menu = QtMenu::create();
    std::shared_ptr<QtMenu> submenu = QtMenu::create();
    std::shared_ptr<QtMenuItem> status;
    std::vector<std::string> events;
    bool paused = false;

    std::shared_ptr<QtMenuItem> add(const std::string& title, std::function<void()> action = {}) {
        auto item = QtMenuItem::create(title, false);
        if (action) {
            item->setAction([action](MenuItem&) { action(); });
        }
        menu->addItem(item);
        return item;
    }
    void menuWillOpen(Menu&) override {
        events.push_back("open");
        menu->removeAllItems();
        status = add(paused ? "Captura en pausa" : "Escuchando");
        menu->addItem(QtMenuItem::create({}, true));
        add(paused ? "Reanudar" : "Pausar", [this] { paused = !paused; });
        add("Copiar", [] {})->setEnabled(false);
        add("Incluir título", [] {})->setState(true);
        add("Entradas MIDI")->setSubmenu(submenu);
    }
    void menuDidClose(Menu&) override { events.push_back("close"); }
};

// The window opens the menu while it is shown, lays out every item as the kind of widget it
// needs, follows its changes, and opens the menu anew after a command, as a tray's menu would be.
TEST(QtStatusItem, WithoutATrayTheWindowOffersTheMenuAndFollowsTrays) {
    const auto hosts = std::make_shared<FakeTrayHosts>();
    const auto item = QtStatusItem::create(hosts, {.atStart = 20ms, .afterLoss = 20ms});
    const auto application = std::make_shared<Application>();
    application->menu->setDelegate(application);
    const auto source = QtMenuItem::create("Teclado", false);
    source->setAction([](MenuItem&) {});
    application->submenu->addItem(source);
    item->setMenu(application->menu);
    item->button()->setAccessibilityLabel("Quenlitor MIDI a Texto");
    item->button()->setToolTip("Quenlitor MIDI a Texto — toca");

    EXPECT_EQ(item->shown(), QtStatusItem::Shown::nothing) << "waiting for a tray";
    ASSERT_TRUE(processEventsUntil([&] { return item->shown() == QtStatusItem::Shown::window; }));
    QtStatusWindow& window = *item->window();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(application->events, (std::vector<std::string>{"open"}));
    ASSERT_TRUE(processEventsUntil([&] { return window.itemCount() == 6; }));
    EXPECT_EQ(seenItems(window), (std::vector<std::string>{"label Escuchando", "---", "button Pausar",
                                                            "button Copiar (off)", "[x] Incluir título",
                                                            "menu Entradas MIDI"}));
    EXPECT_EQ(qobject_cast<QPushButton*>(window.itemWidget(5))->menu(), application->submenu->qmenu());
    // A tool tip only where the item has one: a screen reader reads a widget's tool tip too.
    application->status->setToolTip("\"C4\" C4 .");
    EXPECT_EQ(window.itemWidget(0)->toolTip(), QStringLiteral("\"C4\" C4 ."));
    EXPECT_EQ(window.itemWidget(2)->toolTip(), QString());
    application->status->setTitle("Tocando: C4");
    EXPECT_EQ(seen(window.itemWidget(0)), "label Tocando: C4");

    qobject_cast<QCheckBox*>(window.itemWidget(4))->click();
    EXPECT_EQ(seen(window.itemWidget(4)), "[x] Incluir título") << "the mark the application set, not the click's";
    ASSERT_TRUE(processEventsUntil([&] { return application->events.size() == 3; })) << "closed and opened anew";
    qobject_cast<QPushButton*>(window.itemWidget(2))->click();
    EXPECT_TRUE(processEventsUntil([&] { return seen(window.itemWidget(0)) == "label Captura en pausa"; }));
    EXPECT_EQ(seen(window.itemWidget(2)), "button Reanudar");
    source->action()->trigger();
    Q_EMIT application->submenu->qmenu()->triggered(source->action());
    EXPECT_TRUE(processEventsUntil([&] { return application->events.size() == 7; }));
    EXPECT_EQ(application->events.back(), "open") << "after a command from the submenu";

    item->qtButton()->setAppearsDisabled(true);
    hosts->set(TrayKind::xembed);
    EXPECT_EQ(application->events.back(), "close");
    EXPECT_FALSE(window.isVisible());
    ASSERT_NE(item->tray(), nullptr);
    EXPECT_TRUE(item->tray()->isVisible());
    EXPECT_EQ(item->tray()->contextMenu(), application->menu->qmenu());
    EXPECT_EQ(item->tray()->icon().cacheKey(), item->qtButton()->icon().cacheKey());
    hosts->set(TrayKind::none);
    ASSERT_TRUE(processEventsUntil([&] { return item->shown() == QtStatusItem::Shown::window; }));
    EXPECT_EQ(application->events.back(), "open");
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(item->tray()->isVisible());
}

TEST(QtStatusItem, ActivationShowsTheWindowUnlessInATray) {
    for (const bool tray : {false, true}) {
        SCOPED_TRACE(tray ? "in a tray: nothing, and no window ever made" : "waiting for a tray: the window at once");
        const auto item = QtStatusItem::create(std::make_shared<FakeTrayHosts>(tray ? TrayKind::xembed : TrayKind::none),
                                               {.atStart = tray ? 10ms : 10s, .afterLoss = 10ms});
        processEventsUntil([] { return false; }, tray ? 50ms : 0ms);
        item->activate();
        EXPECT_EQ(item->shown(), tray ? QtStatusItem::Shown::xembed : QtStatusItem::Shown::window);
        EXPECT_EQ(item->window() != nullptr, !tray);
        EXPECT_TRUE(tray || item->window()->isVisible());
        testing::deleteLaterObjects();
    }
}

TEST(QtRunningInstances, LaterStartsReachTheRunningCopyWhateverItLeftBehind) {
    testing::TemporaryDirectory directory;
    // A socket file left by a copy that crashed.
    std::ofstream(QtRunningInstances(directory.path()).socketPath("id")) << "";
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
    testing::deleteLaterObjects();
    EXPECT_TRUE(QtRunningInstances(directory.path()).claimSingleInstance("id")) << "once the first copy has ended";
}

// The application waits for a tray inside its event loop, so a signal ends it at once; closing
// the window ends it as its quit command does; asked to show itself (a second start), it raises
// the window, hidden or minimised.
TEST(QtApplication, QuitsWhenTheWindowClosesOrOnASignalWhileWaitingForATray) {
    for (const bool signal : {true, false}) {
        SCOPED_TRACE(signal ? "SIGTERM while waiting" : "the window closed");
        std::signal(SIGTERM, SIG_DFL);
        int argc = 0;
        const auto hosts = std::make_shared<FakeTrayHosts>();
        auto application = std::make_shared<QtApplication>(argc, nullptr, [hosts] { return hosts; },
                                                           QtStatusItem::Patience{.atStart = signal ? 10s : 10ms});
        struct Delegate final : ApplicationDelegate {
            std::shared_ptr<QtApplication> application;
            std::shared_ptr<QtStatusItem> item;
            std::vector<std::string> events;
            void applicationDidFinishLaunching() override {
                events.push_back("launch");
                item = std::dynamic_pointer_cast<QtStatusItem>(application->makeStatusItem());
            }
            void applicationWillTerminate() override { events.push_back("terminate"); }
        };
        const auto delegate = std::make_shared<Delegate>();
        delegate->application = application;
        application->setDelegate(delegate);
        QTimer failSafe;
        QObject::connect(&failSafe, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        failSafe.start(10000);
        QTimer::singleShot(100, [&] {
            if (signal) {
                std::raise(SIGTERM);
                return;
            }
            ASSERT_TRUE(processEventsUntil([&] { return delegate->item->shown() == QtStatusItem::Shown::window; }));
            delegate->item->window()->showMinimized();
            delegate->item->window()->hide();
            application->activate();
            EXPECT_TRUE(delegate->item->window()->isVisible());
            EXPECT_FALSE(delegate->item->window()->isMinimized());
            delegate->item->window()->close();
        });
        QElapsedTimer elapsed;
        elapsed.start();
        EXPECT_EQ(application->run(), 0);
        EXPECT_LT(elapsed.elapsed(), 2000);
        EXPECT_EQ(delegate->events, (std::vector<std::string>{"launch", "terminate"}));
        EXPECT_EQ(delegate->item->shown(), signal ? QtStatusItem::Shown::nothing : QtStatusItem::Shown::window);
        delegate->application.reset();
        delegate->item.reset();
        application.reset();
        std::signal(SIGTERM, SIG_DFL);
    }
}

} // namespace
} // namespace quenlitor::platform::qt
