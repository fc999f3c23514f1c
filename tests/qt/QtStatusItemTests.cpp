// The status item where the desktop has no tray: the window that stands in for it and offers the
// menu, and the moves between the two as trays, played by a fake, come and go.
#include "platform/qt/QtStatusItem.hpp"

#include "QtTestSupport.hpp"
#include "platform/qt/QtApplication.hpp"
#include "platform/qt/QtMenu.hpp"
#include "platform/qt/QtRunningInstances.hpp"
#include "platform/qt/QtStatusWindow.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

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

// An application that rebuilds its menu as it opens, as the real one does, and records the
// openings and closings.
struct Application final : MenuDelegate {
    std::shared_ptr<QtMenu> menu = QtMenu::create();
    std::shared_ptr<QtMenu> submenu = QtMenu::create();
    std::shared_ptr<QtMenuItem> status;
    std::vector<std::string> events;
    bool paused = false;

    std::shared_ptr<QtMenuItem> add(const std::string& title, MenuItem::Action action = {}) {
        auto item = QtMenuItem::create(title, false);
        item->setAction(std::move(action));
        menu->addItem(item);
        return item;
    }
    void menuWillOpen(Menu&) override {
        events.push_back("open");
        menu->removeAllItems();
        status = add(paused ? "Captura en pausa" : "Escuchando");
        menu->addItem(QtMenuItem::create({}, true));
        add(paused ? "Reanudar" : "Pausar", [this](MenuItem&) { paused = !paused; });
        add("Copiar", [](MenuItem&) {})->setEnabled(false);
        add("Incluir título", [](MenuItem&) {})->setState(true);
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

    ASSERT_TRUE(processEventsUntil([&] { return item->shown() == QtStatusItem::Shown::window; }));
    QtStatusWindow& window = *item->window();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(application->events, (std::vector<std::string>{"open"}));
    ASSERT_TRUE(processEventsUntil([&] { return window.itemCount() == 6; }));
    std::vector<std::string> shown;
    for (int index = 0; index < window.itemCount(); ++index) {
        shown.push_back(seen(window.itemWidget(index)));
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"label Escuchando", "---", "button Pausar", "button Copiar (off)",
                                           "[x] Incluir título", "menu Entradas MIDI"}));
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
    EXPECT_FALSE(item->tray()->isVisible());
}

// Asked to show itself in a tray, the item does nothing: no window is ever made.
TEST(QtStatusItem, WithATrayAtStartNoWindowIsEverMade) {
    const auto item = QtStatusItem::create(std::make_shared<FakeTrayHosts>(TrayKind::xembed), {.atStart = 10ms, .afterLoss = 10ms});
    processEventsUntil([] { return false; }, 50ms);
    item->activate();
    EXPECT_EQ(item->shown(), QtStatusItem::Shown::xembed);
    EXPECT_EQ(item->window(), nullptr);
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

// Closing the window ends the application as its quit command does; asked to show itself (a
// second start), the application raises the window, hidden or minimised.
TEST(QtApplication, ClosingTheWindowQuitsAsSalirDoes) {
    int argc = 0;
    const auto hosts = std::make_shared<FakeTrayHosts>();
    auto application = std::make_shared<QtApplication>(argc, nullptr, [hosts] { return hosts; },
                                                       QtStatusItem::Patience{.atStart = 10ms});
    struct Delegate final : ApplicationDelegate {
        std::shared_ptr<QtApplication> application;
        std::shared_ptr<QtStatusItem> item;
        void applicationDidFinishLaunching() override {
            item = std::dynamic_pointer_cast<QtStatusItem>(application->makeStatusItem());
        }
        void applicationWillTerminate() override {}
    };
    const auto delegate = std::make_shared<Delegate>();
    delegate->application = application;
    application->setDelegate(delegate);
    QTimer failSafe;
    QObject::connect(&failSafe, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    failSafe.start(10000);
    QTimer::singleShot(1, [&] {
        ASSERT_TRUE(processEventsUntil([&] { return delegate->item->shown() == QtStatusItem::Shown::window; }));
        QtStatusWindow& window = *delegate->item->window();
        window.showMinimized();
        window.hide();
        application->activate();
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(window.isMinimized());
        window.close();
    });
    EXPECT_EQ(application->run(), 0) << "99: still running";
    delegate->application.reset();
}

} // namespace
} // namespace quenlitor::platform::qt
