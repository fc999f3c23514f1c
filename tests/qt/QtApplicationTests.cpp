#include "platform/qt/QtApplication.hpp"

#include "QtTestSupport.hpp"
#include "platform/qt/QtClipboard.hpp"
#include "platform/qt/QtMainQueue.hpp"
#include "platform/qt/QtMenu.hpp"
#include "platform/qt/QtStatusItem.hpp"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <numeric>
#include <csignal>
#include <thread>
#include <vector>

namespace quenlitor::platform::qt {
namespace {

using testing::FakeTrayHosts;
using TrayKind = FakeTrayHosts::TrayKind;
using testing::processEventsUntil;
using testing::ScopedEnvironment;

// The opacity of the icon's most opaque pixel at 22 pixels, as the tray shows it.
int strongestAlpha(const QIcon& icon) {
    const QImage image = icon.pixmap(22, 22).toImage();
    int strongest = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            strongest = std::max(strongest, image.pixelColor(x, y).alpha());
        }
    }
    return strongest;
}

TEST(QtStatusButton, ToolTipIsTheToolTipTextAlone) {
    const struct {
        std::string title;
        std::string toolTip;
    } rows[] = {
        {" QK", "Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V"},
        {" QK", ""},
        {"", "Quenlitor MIDI a Texto"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title + "|" + row.toolTip);
        const auto item = QtStatusItem::create(std::make_shared<FakeTrayHosts>(TrayKind::xembed), {});
        item->button()->setTitle(row.title);
        item->button()->setToolTip(row.toolTip);
        ASSERT_NE(item->tray(), nullptr);
        EXPECT_EQ(item->tray()->toolTip(), QString::fromStdString(row.toolTip));
        EXPECT_EQ(item->qtButton()->title(), row.title) << "kept, though trays do not show it";
    }
}

// How legible the icon is on dark and light panels, scripts/tray-smoke-test.sh measures on a real tray.
TEST(QtStatusButton, PianoKeysIsTheOneSymbolAndDimsWhenDisabled) {
    const auto item = QtStatusItem::create(std::make_shared<FakeTrayHosts>(TrayKind::xembed), {});
    QtStatusButton& button = *item->qtButton();
    ASSERT_NE(item->tray(), nullptr);
    EXPECT_FALSE(item->tray()->icon().isNull()) << "the item shows the piano keys before any image is set";
    EXPECT_FALSE(button.setSymbolImage("music.note", "Quenlitor MIDI a Texto"));
    ASSERT_TRUE(button.setSymbolImage("pianokeys", "Quenlitor MIDI a Texto"));
    EXPECT_EQ(button.accessibleName(), QStringLiteral("Quenlitor MIDI a Texto"))
        << "the description stands in for a label";

    const int normal = strongestAlpha(item->tray()->icon());
    button.setAppearsDisabled(true);
    const int dimmed = strongestAlpha(item->tray()->icon());
    EXPECT_TRUE(button.appearsDisabled());
    EXPECT_GT(normal, 200);
    EXPECT_LT(dimmed, normal / 2);
    EXPECT_GT(dimmed, 0) << "dimmed, not gone";
    button.setAppearsDisabled(false);
    EXPECT_EQ(strongestAlpha(item->tray()->icon()), normal);
}

TEST(QtStatusItem, MenuOpensFromTheTrayWithTheLabelAsItsName) {
    const auto item = QtStatusItem::create(std::make_shared<FakeTrayHosts>(TrayKind::xembed), {});
    ASSERT_NE(item->button(), nullptr);
    ASSERT_NE(item->tray(), nullptr);
    item->button()->setAccessibilityLabel("Quenlitor MIDI a Texto");
    const auto menu = QtMenu::create();
    menu->addItem(QtMenuItem::create("Salir", false));
    item->setMenu(menu);
    QSystemTrayIcon& tray = *item->tray();
    EXPECT_EQ(tray.contextMenu(), menu->qmenu());
    EXPECT_EQ(menu->qmenu()->accessibleName(), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quenlitor MIDI a Texto"))
        << "StatusNotifierItem hosts show it as the item's title";

    // A left click opens the menu too, and a second one closes it.
    emit tray.activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(menu->qmenu()->isVisible());
    emit tray.activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(menu->qmenu()->isVisible());

    item->setMenu(nullptr);
    EXPECT_EQ(tray.contextMenu(), nullptr);
    emit tray.activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(menu->qmenu()->isVisible());
}

// On the offscreen platform a write is never refused: what can fail here is the text (UTF-8)
// and the clipboard it goes to, the one Ctrl+V pastes from.
TEST(QtClipboard, WritesTheTextPastedWithCtrlVAndClearEmptiesIt) {
    QtClipboard clipboard;
    clipboard.clearContents();
    EXPECT_TRUE(clipboard.setString("“Bø7” B3 D4 F A ."));
    QCoreApplication::processEvents();
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Clipboard), QStringLiteral("“Bø7” B3 D4 F A ."))
        << "the clear before the write must not land after it";
    clipboard.clearContents();
    EXPECT_TRUE(processEventsUntil([] { return QGuiApplication::clipboard()->text(QClipboard::Clipboard).isEmpty(); }));
}

// Never inside post, whoever posts; a task posted by a task runs after those already queued.
TEST(QtMainQueue, TasksRunLaterOnTheGuiThreadInPostingOrder) {
    QtMainQueue queue;
    constexpr int count = 2000;
    std::vector<int> ran;
    bool allOnGuiThread = true;
    QThread* const gui = QThread::currentThread();
    const auto task = [&](int index) {
        return [&, index] {
            allOnGuiThread = allOnGuiThread && QThread::currentThread() == gui;
            ran.push_back(index);
        };
    };
    queue.post([&] {
        ran.push_back(-1);
        queue.post(task(count));
    });
    std::thread([&] {
        for (int index = 0; index < count; ++index) {
            queue.post(task(index));
        }
    }).join();
    EXPECT_TRUE(ran.empty());
    ASSERT_TRUE(processEventsUntil([&] { return ran.size() == count + 2; }));
    EXPECT_TRUE(allOnGuiThread);
    std::vector<int> expected(count + 2);
    std::iota(expected.begin(), expected.end(), -1);
    EXPECT_EQ(ran, expected);
}

// Records the callbacks; `onLaunch` runs inside the launch callback.
struct RecordingDelegate final : ApplicationDelegate {
    std::vector<std::string> events;
    std::function<void()> onLaunch;
    void applicationDidFinishLaunching() override {
        events.push_back("launch");
        if (onLaunch) {
            onLaunch();
        }
    }
    void applicationWillTerminate() override { events.push_back("terminate"); }
};

// Keeps a broken quit from hanging the test: while it lives, the loop ends after a while whatever
// happens, with status 99.
std::unique_ptr<QTimer> failSafe() {
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    QObject::connect(timer.get(), &QTimer::timeout, [] { QCoreApplication::exit(99); });
    timer->start(10000);
    return timer;
}

// Asked to quit twice while launching, or before running at all (with events processed
// meanwhile, which must not lose the quit), run returns once, after the delegate is told.
TEST(QtApplication, RunReturnsAfterTerminateRequestedOnceOrTwice) {
    for (const bool beforeRun : {false, true}) {
        SCOPED_TRACE(beforeRun ? "before run" : "while launching");
        int argc = 0;
        QtApplication application(argc, nullptr);
        const auto delegate = std::make_shared<RecordingDelegate>();
        bool statusItemShown = false;
        delegate->onLaunch = [&] {
            statusItemShown = application.makeStatusItem()->button() != nullptr;
            application.terminate();
            application.terminate();
        };
        application.setDelegate(delegate);
        if (beforeRun) {
            application.terminate();
            QCoreApplication::processEvents();
        }
        const auto guard = failSafe();
        EXPECT_EQ(application.run(), 0);
        EXPECT_EQ(delegate->events, (beforeRun ? std::vector<std::string>{"terminate"}
                                               : std::vector<std::string>{"launch", "terminate"}));
        EXPECT_EQ(statusItemShown, !beforeRun);
    }
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
}

TEST(QtApplication, TermAndIntSignalsQuitInOrder) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        std::signal(signal, SIG_DFL);
        int argc = 0;
        auto application = std::make_unique<QtApplication>(argc, nullptr);
        const auto delegate = std::make_shared<RecordingDelegate>();
        delegate->onLaunch = [signal] { std::raise(signal); };
        application->setDelegate(delegate);
        const auto guard = failSafe();
        EXPECT_EQ(application->run(), 0);
        EXPECT_EQ(delegate->events, (std::vector<std::string>{"launch", "terminate"}));

        struct sigaction after {};
        ::sigaction(signal, nullptr, &after);
        EXPECT_EQ(after.sa_handler, SIG_DFL) << "a second signal ends a quit that hangs";
        application.reset();
        ::sigaction(signal, nullptr, &after);
        EXPECT_EQ(after.sa_handler, SIG_DFL);
    }
}

TEST(QtApplication, IgnoredSignalStaysIgnored) {
    std::signal(SIGINT, SIG_IGN);
    {
        int argc = 0;
        QtApplication application(argc, nullptr);
        struct sigaction during {};
        ::sigaction(SIGINT, nullptr, &during);
        EXPECT_EQ(during.sa_handler, SIG_IGN);
        ::sigaction(SIGTERM, nullptr, &during);
        EXPECT_NE(during.sa_handler, SIG_DFL);
    }
    std::signal(SIGINT, SIG_DFL);
}

TEST(QtApplication, X11IsPreferredOnWaylandUnlessThePlatformIsChosen) {
    const struct {
        const char* name;
        std::optional<std::string> platform;
        std::optional<std::string> waylandDisplay;
        std::optional<std::string> sessionType;
        std::optional<std::string> display;
        std::optional<std::string> expected;
    } rows[] = {
        {"Wayland with XWayland", std::nullopt, "wayland-0", "wayland", ":0", "xcb"},
        {"Wayland known by the session type only", std::nullopt, std::nullopt, "wayland", ":1", "xcb"},
        {"user's choice kept", "wayland", "wayland-0", "wayland", ":0", "wayland"},
        {"empty choice is no choice", "", "wayland-0", "wayland", ":0", "xcb"},
        {"Wayland without XWayland", std::nullopt, "wayland-0", "wayland", std::nullopt, std::nullopt},
        {"X11 session", std::nullopt, std::nullopt, "x11", ":0", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ScopedEnvironment platform("QT_QPA_PLATFORM", row.platform);
        const ScopedEnvironment wayland("WAYLAND_DISPLAY", row.waylandDisplay);
        const ScopedEnvironment session("XDG_SESSION_TYPE", row.sessionType);
        const ScopedEnvironment display("DISPLAY", row.display);
        preferX11OnWayland();
        const char* chosen = std::getenv("QT_QPA_PLATFORM");
        EXPECT_EQ(chosen != nullptr && *chosen != '\0' ? std::optional<std::string>(chosen) : std::nullopt,
                  row.expected);
    }
}

} // namespace
} // namespace quenlitor::platform::qt
