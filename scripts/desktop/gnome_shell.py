#!/usr/bin/python3
"""The application under GNOME Shell 43, stock and then with the AppIndicator extension.

    gnome_shell.py APP [SCREENSHOT]

Run by gnome-session.sh with QUENLITOR_GNOME_UNSAFE=1 (the shell headless in unsafe mode,
XWayland, a session bus of its own). Checks, without a tray: started with --autostart, SIGTERM
during the wait for one ends the application at once with status 0; started by a person, the
window appears within 1 s, titled with the application's name (SCREENSHOT, when given, receives
a picture of it, which must show the window's own pixels as XWayland holds them); a second start ends at
once with status 0 and the window has the focus; the window's commands work, read and used over
the accessibility bus (accessible_window.py): "Reiniciar notas retenidas" clicked with the
pointer; "Pausar captura" and "Reanudar captura" pressed as a screen reader presses them, and
the title's check box flipped and flipped back. Then the extension switched on while the
application runs: its item registers with the extension's watcher and the window goes; the
menu's whole layout over dbusmenu is as laid out (the window's commands left the state as at the
start); a command chosen by Event "clicked" runs; "Salir" ends it with status 0. Started again
with the extension on, the item registers and no window appears within 4 s. Started once more
with the extension off, the window appears within 1 s and its "Salir" ends it with status 0.
"""

import json
import os
import re
import subprocess
import sys
import tempfile
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


def start(app_path, log, *options):
    return subprocess.Popen([app_path, *options], env=dict(os.environ, **accessible_window.ACCESSIBLE_ENV),
                            stdout=subprocess.DEVNULL, stderr=log)


def check_picture(path, left, top):
    """A check that the picture at path, of the screen from (left, top), shows the application's
    window as the X server (XWayland) holds its pixels: within ImageMagick's 5 % fuzz, at most
    1 % of the window's pixels differ."""
    name = f"the screenshot shows the window's pixels: {path}"
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{APP_NAME}$"],
                         capture_output=True, text=True, timeout=10).stdout.split()
    if not ids:
        return check(False, name, "no window on the X server")
    info = subprocess.run(["xwininfo", "-id", ids[0]], capture_output=True, text=True, timeout=10).stdout
    x, y, width, height = (int(re.search(rf"{field}:\s*(-?\d+)", info).group(1)) for field in
                           ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))
    with tempfile.TemporaryDirectory() as folder:
        own = os.path.join(folder, "window.png")
        subprocess.run(["import", "-silent", "-window", ids[0], own], check=True, timeout=20)
        colours = int(subprocess.run(["identify", "-format", "%k", own], capture_output=True, text=True,
                                     timeout=20).stdout or 0)
        compared = subprocess.run(["compare", "-metric", "AE", "-fuzz", "5%", f"{path}[{width}x{height}+{x - left}+{y - top}]",
                                   own, "null:"], capture_output=True, text=True, timeout=60)
    differing = compared.stderr.split()
    differing = int(float(differing[0])) if differing and differing[0].replace(".", "", 1).isdigit() else None
    shown = f"{differing} of the window's {width * height} pixels differ" if differing is not None else compared.stderr.strip()
    ok = colours > 16 and differing is not None and differing <= width * height // 100
    return check(ok, f"{name} ({shown})" if ok else name, f"the window has {colours} colours" if colours <= 16 else shown)


def checks(log, app_path, screenshot=""):
    bus = dbus.SessionBus()
    shell = Shell(bus)
    # GNOME 43 starts in the overview; windows get the focus once it is hidden.
    shell.eval("Main.overview.hide(); ''")

    # The session's start waits for a panel that starts after the application.
    app = start(app_path, log, "--autostart")
    time.sleep(1)
    signalled = time.monotonic()
    status = end(app, 5)
    elapsed = time.monotonic() - signalled
    check(status == 0 and elapsed < 1, f"started with --autostart, SIGTERM during the wait for a tray ends it with "
          f"status 0 after {elapsed * 1000:.0f} ms", f"status {status} after {elapsed:.1f} s")

    started = time.monotonic()
    app = start(app_path, log)
    try:
        window = wait_for(shell.app_window, 10, 0.05)
        elapsed = time.monotonic() - started
        if not check(window is not None and elapsed <= 1, f'started by a person without a tray, the window "{APP_NAME}" '
                     f"appears after {elapsed:.2f} s", "no window within 10 s" if window is None else f"after {elapsed:.1f} s"):
            return
        emit("FIGURE", f"window {window['w']}x{window['h']} at {window['x']},{window['y']}")
        if screenshot:
            time.sleep(0.5)
            margin = 16
            left, top = max(window["x"] - margin, 0), max(window["y"] - margin, 0)
            ok, _ = shell.screenshot.ScreenshotArea(left, top, window["w"] + 2 * margin, window["h"] + 2 * margin, False,
                                                    os.path.abspath(screenshot))
            if check(bool(ok), f"a screenshot of the window: {screenshot}"):
                check_picture(screenshot, left, top)

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
        # An item that no host reads would bring the window 3 s after the start.
        shown = wait_for(shell.app_window, max(0.0, 4 - elapsed), 0.1)
        check(shown is None, "and no window appears within 4 s of the start", f"windows {shell.windows()}")
        status = end(app)
        check(status == 0, "SIGTERM ends it with status 0", f"status {status}")

        # The extension off again: the window on a start of its own, for its "Salir".
        subprocess.run(["gsettings", "set", "org.gnome.shell", "enabled-extensions", "[]"], check=True)
        wait_for(lambda: not bus.name_has_owner(TrayItem.WATCHER), 3)
        started = time.monotonic()
        app = start(app_path, log)
        shown = wait_for(shell.app_window, 10, 0.05)
        elapsed = time.monotonic() - started
        if check(shown is not None and elapsed <= 1, f"with the extension off again the window appears after {elapsed:.2f} s",
                 "not within 10 s" if shown is None else f"after {elapsed:.1f} s"):
            window = accessible_window.window_of(bus, app.pid, 3)
            if window:
                accessible_window.check_quit(window, app)
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()


if __name__ == "__main__":
    sys.exit(probes.run_checks("GNOME-SHELL", checks, __doc__, sys.argv[1:]))
