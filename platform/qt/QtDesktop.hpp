#pragma once

#include "platform/Desktop.hpp"

#include <memory>

// The Qt 6 binding of the desktop interfaces, for a tray application on a free desktop. This
// header needs no Qt of its own, so an entry point that includes it stays free of Qt.
namespace quenlitor::platform::qt {

// The whole desktop from the process' arguments, on the thread that calls it, which becomes the
// GUI thread: the QApplication (created here, X11 preferred on Wayland for the clipboard's
// sake), the status item (in the tray, or in a window while there is none) and menus, the
// clipboard, the settings in $XDG_CONFIG_HOME/quenlitor-midi-texto/ajustes.json, the resources
// looked up beside the executable and in the XDG data directories, the single-instance lock in
// $XDG_RUNTIME_DIR (a later start asks the running copy to show its window) and the main queue.
// `midi` is passed through as the MIDI platform. `withSession`: started by the session with the
// desktop's panels, which may come up after the application, so a tray is waited for 5 s before
// the window shows; started by a person, the window shows within half a second where no tray
// is. `argc` and `argv` must live as long as the
// result. Keep the result, and whatever holds its parts, local to the entry point: the
// application object must be the last part released, before the process' static objects go.
Desktop makeQtDesktop(int& argc, char** argv, std::shared_ptr<MIDIPlatform> midi = nullptr, bool withSession = false);

} // namespace quenlitor::platform::qt
