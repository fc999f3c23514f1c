#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quenlitor::platform::wayland {

// Whether one copy through data-control took. The copy's source offers, beside the text types, a
// MIME type of its own (`marker()`); the copy counts only once the application's own data-control
// device announces a selection that offers that type, that is, once the compositor says the
// selection is this copy. The compositor may ignore the request, another client may take the
// selection first, or the connection may end: each of these before the announcement refuses the
// copy. What happens after the answer (another client copying later) does not change it.
class SelectionClaim {
public:
    enum class Outcome { pending, taken, refused };

    // `serial` tells this copy from the process' earlier ones; `process` from other processes.
    SelectionClaim(std::uint64_t process, std::uint64_t serial);

    // The MIME type that marks this copy's source.
    const std::string& marker() const { return m_marker; }

    // The device announced a new selection offering `mimeTypes` (none: the selection was cleared).
    // An announcement of an earlier selection, still on its way when the copy was asked for, does
    // not decide anything.
    void selectionAnnounced(std::span<const std::string> mimeTypes);
    // The compositor cancelled this copy's source: another selection replaced it.
    void sourceCancelled();
    // The compositor answered a round trip sent after the copy: it has handled the request, and
    // sent whatever it had to say about it.
    void compositorCaughtUp();
    // The connection to the compositor ended, or waiting for it took too long.
    void abandoned();

    Outcome outcome() const { return m_outcome; }
    bool decided() const { return m_outcome != Outcome::pending; }

private:
    void decide(Outcome outcome);

    std::string m_marker;
    Outcome m_outcome = Outcome::pending;
};

} // namespace quenlitor::platform::wayland
