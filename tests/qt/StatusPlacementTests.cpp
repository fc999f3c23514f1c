// Where the status item goes as trays come, go, refuse it or never read it.
#include "platform/qt/StatusPlacement.hpp"

#include "FakeWatcher.hpp"
#include "QtTestSupport.hpp"
#include "platform/qt/QtStatusItem.hpp"
#include "platform/qt/QtStatusWindow.hpp"
#include "support/Missing.hpp"

#include <gtest/gtest.h>

#include <tuple>

namespace quenlitor::platform::qt {

namespace {

using namespace std::chrono_literals;
using Shown = StatusPlacement::Shown;
using testing::FakeTrayHosts;
using testing::FakeWatcher;
using testing::processEventsUntil;

// One thing that happens to the placement; times are milliseconds after the start.
using Event = std::function<void(StatusPlacement&)>;
StatusPlacement::Clock::time_point at(int ms) { return StatusPlacement::Clock::time_point(std::chrono::milliseconds(ms)); }
Event start(TrayKind kind) { return [=](StatusPlacement& p) { p.start(kind, at(0)); }; }
Event trays(TrayKind kind, int ms) { return [=](StatusPlacement& p) { p.traysChanged(kind, at(ms)); }; }
Event hostLeft(int ms) { return [=](StatusPlacement& p) { p.hostLeft(at(ms)); }; }
const Event read = &StatusPlacement::read, refused = &StatusPlacement::refused,
            deadline = &StatusPlacement::deadlinePassed, activated = &StatusPlacement::activated;
constexpr auto sni = TrayKind::statusNotifier, xembed = TrayKind::xembed, none = TrayKind::none;

TEST(StatusPlacement, EveryMove) {
    const struct {
        const char* name;
        std::vector<Event> events;
        Shown shown;
        bool offered;
        std::optional<std::chrono::milliseconds::rep> deadline;
    } rows[] = {
        {"no tray: then the window", {start(none), deadline}, Shown::window, false, {}},
        {"no host reads it: the window", {start(sni), deadline}, Shown::window, true, {}},
        {"a host reads it later: back in the tray", {start(sni), deadline, read}, Shown::statusNotifier, true, {}},
        {"refused: the window at once, off the bus", {start(sni), refused}, Shown::window, false, {}},
        {"refused after a host read it: the window", {start(sni), read, refused}, Shown::window, false, {}},
        {"an XEmbed tray stays when a host's item is refused", {start(xembed), trays(sni, 100), refused}, Shown::xembed, false, {}},
        {"an XEmbed tray gives way to a host that reads", {start(xembed), trays(sni, 100), read}, Shown::statusNotifier, true, {}},
        {"an XEmbed tray stays while no host reads", {start(xembed), trays(sni, 100), deadline}, Shown::xembed, true, {}},
        {"the tray goes: it is given time to come back", {start(sni), read, trays(none, 1000)}, Shown::statusNotifier, true, 6000},
        {"the tray gone for good: the window", {start(sni), read, trays(none, 1000), deadline}, Shown::window, true, {}},
        {"the tray back: its host must read the item", {start(sni), read, trays(none, 1000), trays(sni, 2000)}, Shown::statusNotifier, true, 4000},
        {"a host left: the others must read it again", {start(sni), read, hostLeft(1000)}, Shown::statusNotifier, true, 6000},
        {"a host left, none reads it again: the window", {start(sni), read, hostLeft(1000), deadline}, Shown::window, true, {}},
        {"offered: nothing shown until a host reads it, whoever leaves", {start(sni), hostLeft(1000), trays(none, 1100)}, Shown::nothing, true, 2000},
        {"the XEmbed tray gone for good: the window", {start(xembed), trays(none, 100), deadline}, Shown::window, false, {}},
        {"the XEmbed tray gone: given time to come back", {start(xembed), trays(none, 100)}, Shown::xembed, false, 5100},
        {"a panel after the start: its host has its own time", {start(none), trays(sni, 300)}, Shown::nothing, true, 2300},
        {"an XEmbed tray: in it at once, even after the window", {start(none), deadline, trays(xembed, 600)}, Shown::xembed, false, {}},
        {"the window, then a host: offered, the window stays", {start(none), deadline, trays(sni, 600)}, Shown::window, true, {}},
        {"asked for while waiting: the window at once", {start(none), activated}, Shown::window, false, {}},
        {"asked for before a host read it: the window", {start(sni), activated}, Shown::window, true, {}},
        {"asked for in a tray that shows it: nothing", {start(sni), read, activated}, Shown::statusNotifier, true, {}},
        {"asked for when the tray went: the window", {start(sni), read, trays(none, 100), activated}, Shown::window, true, {}},
        {"a host reads it: in the tray, and no wait runs out", {start(sni), read, deadline}, Shown::statusNotifier, true, {}},
        {"no tray: nothing until the start's wait ends, whatever reads", {start(none), read}, Shown::nothing, false, 500},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        StatusPlacement placement({.atStart = 500ms, .afterLoss = 5000ms, .forReader = 2000ms});
        for (const Event& event : row.events) {
            event(placement);
        }
        const auto& [shown, offered, due] = placement.state();
        const auto dueMs = due ? std::optional(std::chrono::duration_cast<std::chrono::milliseconds>(due->time_since_epoch()).count()) : std::nullopt;
        EXPECT_EQ(std::tuple(shown, offered, dueMs), std::tuple(row.shown, row.offered, row.deadline));
    }
}

// The same faults from a watcher on a real bus, carried out by the status item; a refusal alone
// brings the window before a wait for a reader that never ends.
TEST(StatusPlacement, AWatcherThatRefusesOrNeverAnswersLeavesTheWindow) {
    if (!testing::sessionBusRuns) {
        QUENLITOR_MISSING("dbus-daemon is missing: no bus to test on");
    }
    for (const auto answer : {FakeWatcher::Answer::refuse, FakeWatcher::Answer::never, FakeWatcher::Answer::accept}) {
        SCOPED_TRACE(static_cast<int>(answer));
        const bool refuses = answer == FakeWatcher::Answer::refuse;
        const auto forReader = refuses ? std::chrono::milliseconds(60s) : 300ms;
        FakeWatcher watcher(QStringLiteral("fake-watcher"), answer);
        ASSERT_TRUE(watcher.start());
        const auto hosts = std::make_shared<FakeTrayHosts>(TrayKind::statusNotifier);
        const auto item = QtStatusItem::create(hosts, {.atStart = 60s, .afterLoss = forReader, .forReader = forReader});
        ASSERT_TRUE(processEventsUntil([&] { return !watcher.registered.empty() && item->shown() == Shown::window; }));
        EXPECT_TRUE(item->window()->isVisible());
        EXPECT_EQ(item->statusNotifier()->isVisible(), !refuses);
        if (!refuses) {
            watcher.readOnRequest(watcher.registered.back()); // a host that reads the item as it changes
            item->button()->setToolTip("Quenlitor MIDI a Texto");
            EXPECT_TRUE(processEventsUntil([&] { return item->shown() == Shown::statusNotifier; }));
            EXPECT_FALSE(item->window()->isVisible());
            hosts->hostLeft();
            EXPECT_FALSE(processEventsUntil([&] { return item->shown() == Shown::window; }, 3 * forReader));
            watcher.readOnRequest({});
            hosts->hostLeft();
            EXPECT_TRUE(processEventsUntil([&] { return item->shown() == Shown::window; }));
        }
        testing::deleteLaterObjects();
    }
}

TEST(SessionTrayHosts, FollowTheWatcherAndItsHosts) {
    if (!testing::sessionBusRuns) {
        QUENLITOR_MISSING("dbus-daemon is missing: no bus to test on");
    }
    SessionTrayHosts hosts;
    int changes = 0, left = 0;
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
