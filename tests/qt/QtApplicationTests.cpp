#include "platform/qt/QtApplication.hpp"

#include "QtTestSupport.hpp"
#include "platform/qt/QtClipboard.hpp"
#include "platform/qt/QtMainQueue.hpp"
#include "platform/qt/QtMenu.hpp"
#include "platform/qt/QtStatusItem.hpp"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QThread>

#include <csignal>
#include <thread>

namespace quenlitor::platform::qt {
namespace {

int strongestAlpha(const QIcon& icon) {
    const QImage alpha = icon.pixmap(24, 24).toImage().convertToFormat(QImage::Format_Alpha8);
    return *std::max_element(alpha.constBits(), alpha.constBits() + alpha.sizeInBytes());
}

// In an XEmbed tray: the tool tip alone, never the title; the piano keys, dimmed but legible when
// disabled (scripts/tray-smoke-test.sh measures them on real trays); the menu named as the item.
TEST(QtStatusItem, MenuOpensFromTheTrayWithTheLabelAsItsName) {
    const auto item = QtStatusItem::create(std::make_shared<testing::FakeTrayHosts>(TrayKind::xembed), {});
    ASSERT_NE(item->tray(), nullptr);
    QSystemTrayIcon& tray = *item->tray();
    QtStatusButton& button = *item->qtButton();
    button.setTitle(" QK");
    button.setToolTip("Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V");
    EXPECT_EQ(tray.toolTip(), QStringLiteral("Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V"));
    const int normal = strongestAlpha(tray.icon());
    button.setAppearsDisabled(true);
    const int dimmed = strongestAlpha(tray.icon());
    EXPECT_TRUE(normal > 200 && dimmed > 0 && dimmed < normal / 2) << normal << " dimmed to " << dimmed;
    button.setAppearsDisabled(false);
    EXPECT_EQ(strongestAlpha(tray.icon()), normal);
    button.setAccessibilityLabel("Quenlitor MIDI a Texto");
    const auto menu = QtMenu::create();
    menu->addItem(QtMenuItem::create("Salir", false));
    item->setMenu(menu);
    EXPECT_EQ(tray.contextMenu(), menu->qmenu());
    EXPECT_EQ(menu->qmenu()->accessibleName(), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quenlitor MIDI a Texto")) << "hosts' title for the item";
    for (const bool opens : {true, false}) { // a left click as well, a second one closing it
        emit tray.activated(QSystemTrayIcon::Trigger);
        EXPECT_EQ(menu->qmenu()->isVisible(), opens);
    }
}

// The clipboard Ctrl+V pastes from, in UTF-8; a clear asked for before the write never lands after it.
TEST(QtClipboard, WritesTheTextPastedWithCtrlVAndClearEmptiesIt) {
    QtClipboard clipboard;
    const auto pasted = [] { return QGuiApplication::clipboard()->text(QClipboard::Clipboard); };
    clipboard.clearContents();
    EXPECT_TRUE(clipboard.setString("“Bø7” B3 D4 F A ."));
    QCoreApplication::processEvents();
    EXPECT_EQ(pasted(), QStringLiteral("“Bø7” B3 D4 F A ."));
    clipboard.clearContents();
    EXPECT_TRUE(testing::processEventsUntil([&] { return pasted().isEmpty(); }));
}

TEST(QtMainQueue, TasksRunLaterOnTheGuiThreadInPostingOrder) {
    QtMainQueue queue;
    std::string ran;
    const auto task = [&](char name) { return [&, name] { ran += QThread::currentThread() == qApp->thread() ? name : '!'; }; };
    queue.post(task('a'));
    std::thread([&] { queue.post(task('b')); }).join();
    queue.post(task('c'));
    EXPECT_EQ(ran, "");
    EXPECT_TRUE(testing::processEventsUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, "abc");
}

struct Delegate final : ApplicationDelegate {
    std::vector<std::string> told;
    std::function<void()> onLaunch;
    void applicationDidFinishLaunching() override { told.push_back("launch"), onLaunch(); }
    void applicationWillTerminate() override { told.push_back("terminate"); }
};

// Asked to quit twice while launching, before running (events processed meanwhile must not lose the
// quit), or by a signal, run returns 0 once the delegate is told. A signal's handler goes with it (a
// second one ends a quit that hangs); one ignored from the start (nohup) stays ignored.
TEST(QtApplication, RunReturnsOnceTheDelegateIsToldHoweverAskedToQuit) {
    const struct { int signal; bool beforeRun, intIgnored; } rows[] = {
        {0, false, false}, {0, true, false}, {SIGTERM, false, false}, {SIGINT, false, false}, {SIGHUP, false, false}, {0, false, true},
    };
    for (const auto& [signal, beforeRun, intIgnored] : rows) {
        SCOPED_TRACE(::testing::Message() << "signal " << signal << (beforeRun ? ", before run" : "") << (intIgnored ? ", SIGINT ignored" : ""));
        for (const int quit : {SIGTERM, SIGINT, SIGHUP}) { // a background job starts with SIGINT ignored, nohup with SIGHUP
            std::signal(quit, quit == SIGINT && intIgnored ? SIG_IGN : SIG_DFL);
        }
        int argc = 0;
        QtApplication application(argc, nullptr);
        const auto delegate = std::make_shared<Delegate>();
        delegate->onLaunch = [&, signal] {
            EXPECT_NE(application.makeStatusItem()->button(), nullptr);
            signal != 0 ? void(std::raise(signal)) : (application.terminate(), application.terminate());
        };
        application.setDelegate(delegate);
        if (beforeRun) {
            application.terminate();
            QCoreApplication::processEvents();
        }
        QTimer failSafe; // a broken quit fails the test rather than hang it
        failSafe.callOnTimeout([] { QCoreApplication::exit(99); });
        failSafe.start(10000);
        EXPECT_EQ(application.run(), 0);
        EXPECT_EQ(delegate->told, (beforeRun ? std::vector<std::string>{"terminate"} : std::vector<std::string>{"launch", "terminate"}));
        // std::signal answers the handler it replaces.
        EXPECT_TRUE(signal == 0 || std::signal(signal, SIG_DFL) == SIG_DFL);
        EXPECT_EQ(std::signal(SIGINT, SIG_DFL) == SIG_IGN, intIgnored);
    }
    EXPECT_EQ(std::signal(SIGTERM, SIG_DFL), SIG_DFL) << "restored when the application goes";
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
}

TEST(QtApplication, X11IsPreferredOnWaylandUnlessThePlatformIsChosen) {
    using Env = std::optional<std::string>;
    const struct { Env platform, waylandDisplay, sessionType, display, chosen; } rows[] = {
        {{}, "wayland-0", "wayland", ":0", "xcb"},
        {"", {}, "wayland", ":1", "xcb"}, // an empty choice is none; Wayland known by the session alone
        {"wayland", "wayland-0", "wayland", ":0", "wayland"},
        {{}, "wayland-0", "wayland", {}, {}},
        {{}, {}, "x11", ":0", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        const testing::ScopedEnvironment platform("QT_QPA_PLATFORM", row.platform), wayland("WAYLAND_DISPLAY", row.waylandDisplay),
            session("XDG_SESSION_TYPE", row.sessionType), display("DISPLAY", row.display);
        preferX11OnWayland();
        const char* chosen = std::getenv("QT_QPA_PLATFORM");
        EXPECT_EQ(chosen != nullptr ? Env(chosen) : std::nullopt, row.chosen);
    }
}

} // namespace
} // namespace quenlitor::platform::qt
