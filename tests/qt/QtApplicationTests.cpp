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

#include <csignal>
#include <numeric>
#include <thread>
#include <vector>

namespace quenlitor::platform::qt {
namespace {

using testing::processEventsUntil;

// The opacity of the icon's most opaque pixel, at a size trays use.
int strongestAlpha(const QIcon& icon) {
    const QImage alpha = icon.pixmap(24, 24).toImage().convertToFormat(QImage::Format_Alpha8);
    return *std::max_element(alpha.constBits(), alpha.constBits() + alpha.sizeInBytes());
}

// In an XEmbed tray: the tool tip alone, never the title; the piano keys from the start, dimmed but
// not gone when disabled (scripts/tray-smoke-test.sh measures them on real trays); the menu named
// as the item is, opened by a left click too and closed by a second one.
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
    EXPECT_GT(normal, 200);
    EXPECT_LT(dimmed, normal / 2);
    EXPECT_GT(dimmed, 0);
    button.setAppearsDisabled(false);
    EXPECT_EQ(strongestAlpha(tray.icon()), normal);
    EXPECT_FALSE(button.setSymbolImage("music.note", "Teclas"));
    ASSERT_TRUE(button.setSymbolImage("pianokeys", "Teclas"));
    EXPECT_EQ(button.accessibleName(), QStringLiteral("Teclas")) << "the description stands in for a label";

    button.setAccessibilityLabel("Quenlitor MIDI a Texto");
    const auto menu = QtMenu::create();
    menu->addItem(QtMenuItem::create("Salir", false));
    item->setMenu(menu);
    EXPECT_EQ(tray.contextMenu(), menu->qmenu());
    EXPECT_EQ(menu->qmenu()->accessibleName(), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Quenlitor MIDI a Texto"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quenlitor MIDI a Texto")) << "hosts' title for the item";
    for (const bool opens : {true, false}) {
        emit tray.activated(QSystemTrayIcon::Trigger);
        EXPECT_EQ(menu->qmenu()->isVisible(), opens);
    }
    item->setMenu(nullptr);
    EXPECT_EQ(tray.contextMenu(), nullptr);
    emit tray.activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(menu->qmenu()->isVisible());
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
    EXPECT_TRUE(processEventsUntil([&] { return pasted().isEmpty(); }));
}

// Never inside post, whoever posts; in posting order, on the GUI thread.
TEST(QtMainQueue, TasksRunLaterOnTheGuiThreadInPostingOrder) {
    QtMainQueue queue;
    std::vector<int> ran;
    QThread* const gui = QThread::currentThread();
    const auto task = [&](int index) { return [&, index] { ran.push_back(QThread::currentThread() == gui ? index : -1); }; };
    queue.post(task(0));
    std::thread([&] {
        for (int index = 1; index <= 1000; ++index) {
            queue.post(task(index));
        }
    }).join();
    EXPECT_TRUE(ran.empty());
    ASSERT_TRUE(processEventsUntil([&] { return ran.size() == 1001; }));
    std::vector<int> expected(1001);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(ran, expected);
}

struct Delegate final : ApplicationDelegate {
    std::vector<std::string> told;
    std::function<void()> onLaunch;
    void applicationDidFinishLaunching() override { told.push_back("launch"), onLaunch(); }
    void applicationWillTerminate() override { told.push_back("terminate"); }
};

// Asked to quit twice while launching, before running at all (with events processed meanwhile,
// which must not lose the quit), or by a signal, run returns 0 once the delegate is told. A
// signal's handler goes with it: a second one ends a quit that hangs. A signal ignored from the
// start (nohup, a background job) stays ignored; the others are restored when the application goes.
TEST(QtApplication, RunReturnsOnceTheDelegateIsToldHoweverAskedToQuit) {
    const auto handler = [](int signal) {
        struct sigaction now {};
        ::sigaction(signal, nullptr, &now);
        return now.sa_handler;
    };
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        std::signal(signal, SIG_DFL); // a background job starts with SIGINT ignored, nohup with SIGHUP
    }
    for (const auto& [signal, beforeRun] : {std::pair{0, false}, {0, true}, {SIGTERM, false}, {SIGINT, false}, {SIGHUP, false}}) {
        SCOPED_TRACE(::testing::Message() << "signal " << signal << (beforeRun ? ", before run" : ""));
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
        EXPECT_TRUE(signal == 0 || handler(signal) == SIG_DFL);
    }
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
    std::signal(SIGINT, SIG_IGN);
    {
        int argc = 0;
        const QtApplication application(argc, nullptr);
        EXPECT_EQ(handler(SIGINT), SIG_IGN);
        EXPECT_NE(handler(SIGTERM), SIG_DFL);
    }
    EXPECT_EQ(handler(SIGTERM), SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

TEST(QtApplication, X11IsPreferredOnWaylandUnlessThePlatformIsChosen) {
    using Env = std::optional<std::string>;
    const struct {
        Env platform, waylandDisplay, sessionType, display, chosen;
    } rows[] = {
        {{}, "wayland-0", "wayland", ":0", "xcb"},
        {{}, {}, "wayland", ":1", "xcb"},
        {"wayland", "wayland-0", "wayland", ":0", "wayland"},
        {"", "wayland-0", "wayland", ":0", "xcb"},
        {{}, "wayland-0", "wayland", {}, {}},
        {{}, {}, "x11", ":0", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(&row - rows);
        const testing::ScopedEnvironment platform("QT_QPA_PLATFORM", row.platform), wayland("WAYLAND_DISPLAY", row.waylandDisplay),
            session("XDG_SESSION_TYPE", row.sessionType), display("DISPLAY", row.display);
        preferX11OnWayland();
        const char* chosen = std::getenv("QT_QPA_PLATFORM");
        EXPECT_EQ(chosen != nullptr && *chosen != '\0' ? Env(chosen) : std::nullopt, row.chosen);
    }
}

} // namespace
} // namespace quenlitor::platform::qt
