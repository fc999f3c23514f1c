#pragma once

#include <cstdint>

// A few requests to the X server on Qt's own connection, where Qt's X11 platform runs (XWayland
// included); every function does nothing elsewhere. Kept apart so that only these files see xcb.
namespace quenlitor::platform::qt::x11 {

// Qt's connection to the X server, or null on another platform (xcb_connection_t*).
void* connection();

// The atom named `name`, or 0.
std::uint32_t atom(const char* name);

// Gives top-level `window` the keyboard focus and raises it, as a task bar does when the user
// picks it: the request comes from the user starting the application again. Qt's own
// activation carries the time of the last X event the application saw, which a window manager's
// focus-stealing prevention (or the X server, where no window manager runs) may refuse as older
// than the user's last action.
void activate(std::uintptr_t window);

} // namespace quenlitor::platform::qt::x11
