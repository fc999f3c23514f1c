#include "SelectionClaim.hpp"

#include <algorithm>

namespace quenlitor::platform::wayland {

SelectionClaim::SelectionClaim(std::uint64_t process, std::uint64_t serial)
    : m_marker("application/x-quenlitor-copy;process=" + std::to_string(process) + ";copy=" + std::to_string(serial)) {}

void SelectionClaim::selectionAnnounced(std::span<const std::string> mimeTypes) {
    if (std::ranges::find(mimeTypes, m_marker) != mimeTypes.end()) {
        decide(Outcome::taken);
    }
}

void SelectionClaim::sourceCancelled() { decide(Outcome::refused); }

void SelectionClaim::compositorCaughtUp() { decide(Outcome::refused); }

void SelectionClaim::abandoned() { decide(Outcome::refused); }

void SelectionClaim::decide(Outcome outcome) {
    if (m_outcome == Outcome::pending) {
        m_outcome = outcome;
    }
}

} // namespace quenlitor::platform::wayland
