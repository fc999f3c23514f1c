#pragma once

#include "platform/Desktop.hpp"

#include <chrono>
#include <memory>

// The Qt 6 binding of the desktop interfaces, for a tray application on a free desktop. This
// header needs no Qt of its own, so an entry point that includes it stays free of Qt.
namespace quenlitor::platform::qt {

// The whole desktop from the process' arguments, on the thread that calls it, which becomes the
// GUI thread: the QApplication (created here, X11 preferred on Wayland for the clipboard's
// sake), the tray and menus, the clipboard, the settings in
// $XDG_CONFIG_HOME/quenlitor-midi-texto/ajustes.json, the resources looked up beside the
// executable and in the XDG data directories, the single-instance lock in $XDG_RUNTIME_DIR and
// the main queue. `midi` is passed through as the MIDI platform. `argc` and `argv` must live as
// long as the result. Keep the result, and whatever holds its parts, local to the entry point:
// the application object must be the last part released, before the process' static objects go.
Desktop makeQtDesktop(int& argc, char** argv, std::shared_ptr<MIDIPlatform> midi = nullptr);

// Whether the desktop has a system tray for the status item. With a non-zero `patience` it waits
// up to that long for a tray to appear, as when the application starts with the session, before
// the panel. Call after makeQtDesktop.
bool systemTrayAvailable(std::chrono::milliseconds patience = std::chrono::milliseconds::zero());

} // namespace quenlitor::platform::qt
