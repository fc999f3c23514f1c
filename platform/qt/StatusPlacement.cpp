#include "StatusPlacement.hpp"

namespace quenlitor::platform::qt {

const StatusPlacement::State& StatusPlacement::start(TrayKind trays, Clock::time_point now) {
    if (trays == TrayKind::none) {
        m_state.deadline = now + m_patience.atStart;
        return m_state;
    }
    return traysChanged(trays, now);
}

const StatusPlacement::State& StatusPlacement::traysChanged(TrayKind trays, Clock::time_point now) {
    if (trays == m_trays) {
        return m_state;
    }
    m_trays = trays;
    switch (trays) {
    case TrayKind::statusNotifier:
        offer(now);
        break;
    case TrayKind::xembed:
        m_state.shown = Shown::xembed;
        m_state.deadline.reset();
        break;
    case TrayKind::none:
        // Before anything showed, the wait that runs goes on; a window stays.
        if (inTray()) {
            m_state.deadline = now + m_patience.afterLoss;
        }
        break;
    }
    return m_state;
}

const StatusPlacement::State& StatusPlacement::hostLeft(Clock::time_point now) {
    // As for a tray that goes: the host may be a panel restarting.
    if (m_state.shown == Shown::statusNotifier && !m_state.deadline) {
        m_state.deadline = now + m_patience.afterLoss;
    }
    return m_state;
}

const StatusPlacement::State& StatusPlacement::read() {
    if (m_state.offered) {
        m_state.shown = Shown::statusNotifier;
        m_state.deadline.reset();
    }
    return m_state;
}

const StatusPlacement::State& StatusPlacement::refused() {
    m_state.offered = false;
    if (m_state.shown == Shown::nothing || m_state.shown == Shown::statusNotifier) {
        showWindow();
    }
    return m_state;
}

const StatusPlacement::State& StatusPlacement::deadlinePassed() {
    if (!m_state.deadline) {
        return m_state;
    }
    m_state.deadline.reset();
    // An XEmbed tray still there shows the item, whatever else was awaited.
    if (m_state.shown != Shown::xembed || m_trays == TrayKind::none) {
        showWindow();
    }
    return m_state;
}

const StatusPlacement::State& StatusPlacement::activated() {
    // A tray that went away, or a host that has not read the item yet, shows nothing to look at.
    if (!inTray() || m_state.deadline) {
        showWindow();
    }
    return m_state;
}

// The item goes on the bus (again, should it have been refused), and a host has `forReader` to
// read it unless something the person sees stands in meanwhile.
void StatusPlacement::offer(Clock::time_point now) {
    m_state.offered = true;
    if (m_state.shown == Shown::nothing || m_state.shown == Shown::statusNotifier) {
        m_state.deadline = now + m_patience.forReader;
    } else if (m_state.shown == Shown::xembed) {
        m_state.deadline.reset();
    }
}

void StatusPlacement::showWindow() {
    m_state.shown = Shown::window;
    m_state.deadline.reset();
}

} // namespace quenlitor::platform::qt
