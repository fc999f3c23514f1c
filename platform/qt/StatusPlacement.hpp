#pragma once

#include <chrono>
#include <optional>

namespace quenlitor::platform::qt {

// The kind of tray the status item goes into: a StatusNotifierItem host, which shows the item and
// its menu over D-Bus, or an XEmbed system tray, which docks an X11 window.
enum class TrayKind { none, statusNotifier, xembed };

// Where the status item is, decided in one place from what the desktop says and does: the tray
// that shows it, the window while no tray does, and how long each wait lasts. Plain logic on a
// clock it is given, so every move is a row of a table; the Qt status item carries them out.
//
// The rules, as a person sees them:
// - A StatusNotifierItem host counts as showing the item only once a host has read it: a watcher
//   may accept the item for a host that has died, or refuse it, or never answer. Until a host
//   reads it the item is offered on the bus and `forReader` runs; then the window. A host that
//   reads it later, whatever shows meanwhile, takes it into the tray. When a host leaves, those
//   left are asked to read it again, and it is given `afterLoss` as a tray that goes.
// - An XEmbed tray is trusted at once: the tray docks the icon itself.
// - With no tray at all, the window comes after `atStart` (short for a person, long enough at the
//   session's start for a panel that starts after the application).
// - A tray that goes away is given `afterLoss` to come back, the item kept offered meanwhile.
// - A refused item (the bus name, or the watcher's answer) is the window at once, unless an XEmbed
//   tray shows the item.
class StatusPlacement {
public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::milliseconds;

    enum class Shown { nothing, statusNotifier, xembed, window };
    struct Patience {
        Duration atStart{500};
        Duration afterLoss{5000};
        Duration forReader{2000};
    };
    struct State {
        Shown shown = Shown::nothing;
        // The StatusNotifierItem is on the bus and registered with the watcher, for hosts to read.
        bool offered = false;
        // When the current wait ends, if one runs: deadlinePassed() is due then.
        std::optional<Clock::time_point> deadline;
        bool operator==(const State&) const = default;
    };

    explicit StatusPlacement(Patience patience) : m_patience(patience) {}

    // The trays there when the item is made.
    const State& start(TrayKind trays, Clock::time_point now);
    // The trays there now, after any change.
    const State& traysChanged(TrayKind trays, Clock::time_point now);
    // A StatusNotifierItem host left, others may remain: the ones that show the item, or the host
    // back, must read it again within `afterLoss` (they are asked to when a deadline is set).
    const State& hostLeft(Clock::time_point now);
    // A host read the item's properties.
    const State& read();
    // The bus refused the item's name, or the watcher its registration.
    const State& refused();
    // The deadline has come.
    const State& deadlinePassed();
    // The person asked for the application (a second start): the window unless a tray shows it.
    const State& activated();

    const State& state() const { return m_state; }
    bool inTray() const { return m_state.shown == Shown::statusNotifier || m_state.shown == Shown::xembed; }

private:
    void offer(Clock::time_point now);
    void showWindow();

    Patience m_patience;
    TrayKind m_trays = TrayKind::none;
    State m_state;
};

} // namespace quenlitor::platform::qt
