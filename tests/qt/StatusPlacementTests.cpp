// Where the status item goes as trays come, go, refuse it or never read it: every move of the
// placement as a row, then the same faults played by a watcher on a real bus.
#include "platform/qt/StatusPlacement.hpp"

#include "FakeWatcher.hpp"
#include "QtTestSupport.hpp"
#include "platform/qt/QtStatusItem.hpp"
#include "platform/qt/QtStatusWindow.hpp"
#include "platform/qt/TrayHosts.hpp"
#include "support/Missing.hpp"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quenlitor::platform::qt {

void PrintTo(const StatusPlacement::State& state, std::ostream* out) {
    constexpr const char* shown[] = {"nothing", "statusNotifier", "xembed", "window"};
    *out << shown[static_cast<int>(state.shown)] << (state.offered ? " offered" : "");
    if (state.deadline) {
        *out << " until " << state.deadline->time_since_epoch().count();
    }
}

namespace {

using namespace std::chrono_literals;
using Shown = StatusPlacement::Shown;
using testing::FakeTrayHosts;
using testing::FakeWatcher;
using testing::processEventsUntil;

// One thing that happens to the placement, `at` milliseconds after the start.
struct Event {
    enum class Kind { start, trays, hostLeft, read, refused, deadline, activated } kind;
    TrayKind trays = TrayKind::none;
    int at = 0;
};
constexpr Event start(TrayKind trays) { return {Event::Kind::start, trays, 0}; }
constexpr Event trays(TrayKind trays, int at) { return {Event::Kind::trays, trays, at}; }
constexpr Event hostLeft(int at) { return {Event::Kind::hostLeft, TrayKind::statusNotifier, at}; }
constexpr Event read{Event::Kind::read};
constexpr Event refused{Event::Kind::refused};
constexpr Event deadline{Event::Kind::deadline};
constexpr Event activated{Event::Kind::activated};
constexpr auto sni = TrayKind::statusNotifier;
constexpr auto xembed = TrayKind::xembed;
constexpr auto none = TrayKind::none;

TEST(StatusPlacement, EveryMoveAsAPersonSeesIt) {
    const StatusPlacement::Patience patience{.atStart = 500ms, .afterLoss = 5000ms, .forReader = 2000ms};
    const struct {
        const char* name;
        std::vector<Event> events;
        Shown shown;
        bool offered;
        std::optional<int> deadline;
    } rows[] = {
        {"no tray: nothing until the start's wait ends", {start(none)}, Shown::nothing, false, 500},
        {"no tray: then the window", {start(none), deadline}, Shown::window, false, {}},
        {"a host registered: offered, nothing shown until a host reads it", {start(sni)}, Shown::nothing, true, 2000},
        {"a host reads it: in the tray", {start(sni), read}, Shown::statusNotifier, true, {}},
        {"no host reads it: the window", {start(sni), deadline}, Shown::window, true, {}},
        {"a host reads it later: back in the tray", {start(sni), deadline, read}, Shown::statusNotifier, true, {}},
        {"refused: the window at once, off the bus", {start(sni), refused}, Shown::window, false, {}},
        {"refused after a host read it: the window", {start(sni), read, refused}, Shown::window, false, {}},
        {"an XEmbed tray: at once", {start(xembed)}, Shown::xembed, false, {}},
        {"an XEmbed tray stays when a host's item is refused", {start(xembed), trays(sni, 100), refused}, Shown::xembed, false, {}},
        {"an XEmbed tray gives way to a host that reads", {start(xembed), trays(sni, 100), read}, Shown::statusNotifier, true, {}},
        {"an XEmbed tray stays while no host reads", {start(xembed), trays(sni, 100), deadline}, Shown::xembed, true, {}},
        {"the tray goes: it is given time to come back", {start(sni), read, trays(none, 1000)}, Shown::statusNotifier, true, 6000},
        {"the tray gone for good: the window", {start(sni), read, trays(none, 1000), deadline}, Shown::window, true, {}},
        {"the tray back: its host must read the item", {start(sni), read, trays(none, 1000), trays(sni, 2000)}, Shown::statusNotifier, true, 4000},
        {"the tray back and read: stays", {start(sni), read, trays(none, 1000), trays(sni, 2000), read}, Shown::statusNotifier, true, {}},
        {"a host left: the others must read it again", {start(sni), read, hostLeft(1000)}, Shown::statusNotifier, true, 6000},
        {"a host left, none reads it again: the window", {start(sni), read, hostLeft(1000), deadline}, Shown::window, true, {}},
        {"a host left, another reads it again: stays", {start(sni), read, hostLeft(1000), read}, Shown::statusNotifier, true, {}},
        {"a host left before any read: the wait goes on", {start(sni), hostLeft(1000)}, Shown::nothing, true, 2000},
        {"the XEmbed tray gone for good: the window", {start(xembed), trays(none, 100), deadline}, Shown::window, false, {}},
        {"the XEmbed tray gives way to nothing but the window", {start(xembed), trays(none, 100)}, Shown::xembed, false, 5100},
        {"a panel after the start: its host has its own time", {start(none), trays(sni, 300)}, Shown::nothing, true, 2300},
        {"the watcher gone before any read: the wait goes on", {start(sni), trays(none, 100)}, Shown::nothing, true, 2000},
        {"the window, then an XEmbed tray: in it at once", {start(none), deadline, trays(xembed, 600)}, Shown::xembed, false, {}},
        {"the window, then a host: offered, the window stays", {start(none), deadline, trays(sni, 600)}, Shown::window, true, {}},
        {"the window, then a host that reads", {start(none), deadline, trays(sni, 600), read}, Shown::statusNotifier, true, {}},
        {"asked for while waiting: the window at once", {start(none), activated}, Shown::window, false, {}},
        {"asked for before a host read it: the window", {start(sni), activated}, Shown::window, true, {}},
        {"asked for in a tray that shows it: nothing", {start(sni), read, activated}, Shown::statusNotifier, true, {}},
        {"asked for when the tray went: the window", {start(sni), read, trays(none, 100), activated}, Shown::window, true, {}},
        {"a deadline that is not due does nothing", {start(sni), read, deadline}, Shown::statusNotifier, true, {}},
        {"a read of an item not offered does nothing", {start(none), read}, Shown::nothing, false, 500},
    };
    const StatusPlacement::Clock::time_point t0{};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        StatusPlacement placement(patience);
        for (const Event& event : row.events) {
            const auto now = t0 + std::chrono::milliseconds(event.at);
            switch (event.kind) {
            case Event::Kind::start: placement.start(event.trays, now); break;
            case Event::Kind::trays: placement.traysChanged(event.trays, now); break;
            case Event::Kind::hostLeft: placement.hostLeft(now); break;
            case Event::Kind::read: placement.read(); break;
            case Event::Kind::refused: placement.refused(); break;
            case Event::Kind::deadline: placement.deadlinePassed(); break;
            case Event::Kind::activated: placement.activated(); break;
            }
        }
        std::optional<StatusPlacement::Clock::time_point> deadlineAt;
        if (row.deadline) {
            deadlineAt = t0 + std::chrono::milliseconds(*row.deadline);
        }
        EXPECT_EQ(placement.state(), (StatusPlacement::State{row.shown, row.offered, deadlineAt}));
    }
}

// The same faults from a watcher on a real bus, carried out by the status item: a refusal brings
// the window at once, silence at the end of the wait for a reader; a host reading the item later
// takes it from the window into the tray, and its leaving, with no other host reading, back.
TEST(StatusPlacement, AWatcherThatRefusesOrNeverAnswersLeavesTheWindow) {
    if (!testing::sessionBusRuns) {
        QUENLITOR_MISSING("dbus-daemon is missing: no bus to test on");
    }
    const struct {
        const char* name;
        FakeWatcher::Answer answer;
        std::chrono::milliseconds forReader;
        bool offeredAfter;
    } rows[] = {
        // Only the refusal can bring the window before the wait for a reader ends.
        {"refused", FakeWatcher::Answer::refuse, 60s, false},
        {"never answered", FakeWatcher::Answer::never, 300ms, true},
        {"accepted for a host that never reads", FakeWatcher::Answer::accept, 300ms, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeWatcher watcher(QStringLiteral("fake-watcher"), row.answer);
        ASSERT_TRUE(watcher.start());
        const auto hosts = std::make_shared<FakeTrayHosts>(TrayKind::statusNotifier);
        const auto item = QtStatusItem::create(hosts, {.atStart = 60s, .afterLoss = row.forReader, .forReader = row.forReader});
        ASSERT_TRUE(processEventsUntil([&] { return !watcher.registered.empty(); }));
        const QString service = watcher.registered.back();
        ASSERT_TRUE(processEventsUntil([&] { return item->shown() == Shown::window; }));
        EXPECT_TRUE(item->window()->isVisible());
        EXPECT_EQ(item->statusNotifier()->isVisible(), row.offeredAfter);
        if (row.offeredAfter) {
            // A host that comes to read the item.
            const QDBusMessage reply = QDBusConnection::sessionBus().call(
                QDBusMessage::createMethodCall(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "GetAll")
                    << QStringLiteral("org.kde.StatusNotifierItem"),
                QDBus::BlockWithGui, 5000);
            EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
            EXPECT_TRUE(processEventsUntil([&] { return item->shown() == Shown::statusNotifier; }));
            EXPECT_FALSE(item->window()->isVisible());
            // A host leaves; one that remains reads the item again when asked, and keeps it.
            watcher.readOnRequest(service);
            hosts->hostLeft();
            EXPECT_FALSE(processEventsUntil([&] { return item->shown() == Shown::window; }, 3 * row.forReader));
            watcher.readOnRequest({});
            // That host leaves, and no other reads the item again when asked.
            hosts->hostLeft();
            EXPECT_TRUE(processEventsUntil([&] { return item->shown() == Shown::window; }));
        }
        watcher.stop();
        testing::deleteLaterObjects();
    }
}

// What the session's watcher says, as the item hears it: a host once the watcher comes, a host
// that leaves, and no host once the watcher has left the bus.
TEST(SessionTrayHosts, FollowTheWatcherAndItsHosts) {
    if (!testing::sessionBusRuns) {
        QUENLITOR_MISSING("dbus-daemon is missing: no bus to test on");
    }
    SessionTrayHosts hosts;
    int changes = 0;
    int left = 0;
    hosts.onChange = [&] { ++changes; };
    hosts.onHostLeft = [&] { ++left; };
    FakeWatcher watcher(QStringLiteral("fake-watcher"));
    ASSERT_TRUE(watcher.start());
    EXPECT_TRUE(processEventsUntil([&] { return hosts.kind() == TrayKind::statusNotifier && changes == 1; }));
    watcher.hostLeaves();
    EXPECT_TRUE(processEventsUntil([&] { return left == 1; }));
    // The watcher answers the question the leaving raised before it goes: only its going tells.
    processEventsUntil([] { return false; }, 100ms);
    watcher.stop();
    EXPECT_TRUE(processEventsUntil([&] { return hosts.kind() == TrayKind::none && changes == 2; }));
}

} // namespace
} // namespace quenlitor::platform::qt
