#!/usr/bin/python3
"""The application under GNOME Shell 43, stock and then with the AppIndicator extension.

    gnome_shell.py APP [SCREENSHOT]

Run by gnome-session.sh with QUENLITOR_GNOME_UNSAFE=1 (the shell headless in unsafe mode,
XWayland, a session bus of its own). Checks, without a tray: SIGTERM during the wait for one
ends the application at once with status 0; the window appears within 6 s, titled with the
application's name (SCREENSHOT, when given, receives a picture of it); a second start ends at
once with status 0 and the window has the focus; the window's commands work, read and used over
the accessibility bus (accessible_window.py): "Reiniciar notas retenidas" clicked with the
pointer; "Pausar captura" and "Reanudar captura" pressed as a screen reader presses them, and
the title's check box flipped and flipped back. Then the extension switched on while the
application runs: its item registers with the extension's watcher and the window goes; the
menu's whole layout over dbusmenu is as laid out (the window's commands left the state as at the
start); a command chosen by Event "clicked" runs; "Salir" ends it with status 0. Started again
with the extension on, the item registers and no window appears. Started once more with the
extension off, the window appears and its "Salir" ends it with status 0.
"""

import json
import os
import subprocess
import sys
import time

import dbus

import accessible_window
import probes
from probes import end, APP_NAME, TrayItem, check, check_pause, check_quit, check_start_menu, emit, wait_for

EXTENSION = "ubuntu-appindicators@ubuntu.com"


class Shell:
    def __init__(self, bus):
        self.shell = dbus.Interface(bus.get_object("org.gnome.Shell", "/org/gnome/Shell"), "org.gnome.Shell")
        self.screenshot = dbus.Interface(bus.get_object("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot"),
                                         "org.gnome.Shell.Screenshot")

    def eval(self, script):
        """The script's value; the shell sends it as JSON."""
        ok, result = self.shell.Eval(script)
        if not ok:
            raise RuntimeError(f"Eval failed: {result}")
        return json.loads(str(result)) if str(result) else None

    def windows(self):
        """The shown windows, as dicts of title, frame rectangle and focus."""
        return self.eval("""global.get_window_actors().map(a => {
            const w = a.meta_window, r = w.get_frame_rect();
            return {title: w.get_title(), x: r.x, y: r.y, w: r.width, h: r.height, focus: w.has_focus()};
        })""")

    def app_window(self):
        return next((w for w in self.windows() if w["title"] == APP_NAME), None)


def start(app_path, log):
    return subprocess.Popen([app_path], env=dict(os.environ, **accessible_window.ACCESSIBLE_ENV),
                            stdout=subprocess.DEVNULL, stderr=log)


def checks(log, app_path, screenshot=""):
    bus = dbus.SessionBus()
    shell = Shell(bus)
    # GNOME 43 starts in the overview; windows get the focus once it is hidden.
    shell.eval("Main.overview.hide(); ''")

    app = start(app_path, log)
    time.sleep(1)
    signalled = time.monotonic()
    status = end(app, 5)
    elapsed = time.monotonic() - signalled
    check(status == 0 and elapsed < 1, f"SIGTERM during the wait for a tray ends it with status 0 after {elapsed * 1000:.0f} ms",
          f"status {status} after {elapsed:.1f} s")

    started = time.monotonic()
    app = start(app_path, log)
    try:
        window = wait_for(shell.app_window, 10, 0.1)
        elapsed = time.monotonic() - started
        if not check(window is not None and elapsed <= 6, f'without a tray the window "{APP_NAME}" appears after {elapsed:.1f} s',
                     "no window within 10 s" if window is None else f"after {elapsed:.1f} s"):
            return
        emit("FIGURE", f"window {window['w']}x{window['h']} at {window['x']},{window['y']}")
        if screenshot:
            time.sleep(0.5)
            margin = 16
            ok, _ = shell.screenshot.ScreenshotArea(max(window["x"] - margin, 0), max(window["y"] - margin, 0),
                                                    window["w"] + 2 * margin, window["h"] + 2 * margin, False,
                                                    os.path.abspath(screenshot))
            check(bool(ok) and os.path.getsize(screenshot) > 0, f"a screenshot of the window: {screenshot}")

        second_started = time.monotonic()
        second = subprocess.run([app_path], capture_output=True, timeout=10)
        elapsed = time.monotonic() - second_started
        check(second.returncode == 0 and elapsed < 2, f"a second start ends with status 0 after {elapsed * 1000:.0f} ms",
              f"status {second.returncode} after {elapsed:.1f} s")
        focused = wait_for(lambda: (shell.app_window() or {}).get("focus"), 3)
        check(bool(focused), "the running window has the focus after the second start", f"windows {shell.windows()}")
        window = accessible_window.window_of(bus, app.pid, 5)
        if window:
            accessible_window.check_commands(window)

        subprocess.run(["gsettings", "set", "org.gnome.shell", "disable-user-extensions", "false"], check=True)
        subprocess.run(["gsettings", "set", "org.gnome.shell", "enabled-extensions", f"['{EXTENSION}']"], check=True)
        switched = time.monotonic()
        tray = TrayItem.of_process(bus, app.pid, 10)
        elapsed = time.monotonic() - switched
        check(tray is not None, f"the extension switched on, the item registers with its watcher after {elapsed:.1f} s",
              "not within 10 s")
        check(wait_for(lambda: shell.app_window() is None, 3), "and the window goes", f"windows {shell.windows()}")
        if tray is None:
            return

        check_start_menu(tray)
        check_pause(tray)
        check_quit(tray, app)

        # The extension on from the start: the item at once, never the window.
        started = time.monotonic()
        app = start(app_path, log)
        tray = TrayItem.of_process(bus, app.pid, 10)
        elapsed = time.monotonic() - started
        check(tray is not None, f"with the extension from the start the item registers after {elapsed:.1f} s",
              "not within 10 s")
        time.sleep(max(0.0, 6 - elapsed))
        check(shell.app_window() is None, "and no window appears within 6 s", f"windows {shell.windows()}")
        status = end(app)
        check(status == 0, "SIGTERM ends it with status 0", f"status {status}")

        # The extension off again: the window on a start of its own, for its "Salir".
        subprocess.run(["gsettings", "set", "org.gnome.shell", "enabled-extensions", "[]"], check=True)
        wait_for(lambda: not bus.name_has_owner(TrayItem.WATCHER), 3)
        started = time.monotonic()
        app = start(app_path, log)
        shown = wait_for(shell.app_window, 10, 0.1)
        elapsed = time.monotonic() - started
        if check(shown is not None, f"with the extension off again the window appears after {elapsed:.1f} s",
                 "not within 10 s"):
            window = accessible_window.window_of(bus, app.pid, 3)
            if window:
                accessible_window.check_quit(window, app)
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()


if __name__ == "__main__":
    sys.exit(probes.run_checks("GNOME-SHELL", checks, __doc__, sys.argv[1:]))
