"""The application under GNOME Shell, stock and then with the AppIndicator extension. Without a
tray the window appears within 1 s, its picture (SCREENSHOT) shows its own pixels, a second start
ends at once and focuses it. The extension switched on: the item registers, the window goes, the
menu's "Salir" ends it. Started with the extension on: the item, no window within 4 s. With the
extension off again: the window within 1 s, and its "Salir" pressed over the accessibility bus.

    python3 -m desktop gnome FOLDER gnome APP [SCREENSHOT]
"""

import json
import os
import re
import subprocess
import tempfile
import time

import dbus

from . import accessible
from .report import end, wait_for
from .tray import APP_NAME, WATCHER, TrayItem, check_quit

TAG = "GNOME-SHELL"
EXTENSION = "ubuntu-appindicators@ubuntu.com"


class Shell:
    def __init__(self, bus):
        self.shell = dbus.Interface(bus.get_object("org.gnome.Shell", "/org/gnome/Shell"), "org.gnome.Shell")
        self.screenshot = dbus.Interface(bus.get_object("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot"),
                                         "org.gnome.Shell.Screenshot")

    def eval(self, script):
        ok, result = self.shell.Eval(script)
        if not ok:
            raise RuntimeError(f"Eval failed: {result}")
        return json.loads(str(result)) if str(result) else None

    def windows(self):
        return self.eval("""global.get_window_actors().map(a => {
            const w = a.meta_window, r = w.get_frame_rect();
            return {title: w.get_title(), x: r.x, y: r.y, w: r.width, h: r.height, focus: w.has_focus()};
        })""")

    def app_window(self):
        return next((w for w in self.windows() if w["title"] == APP_NAME), None)


def check_picture(report, session, path, left, top, frame):
    """The picture at path, of the screen from (left, top), shows the application's window as
    XWayland holds its pixels: within ImageMagick's 5 % fuzz, at most 1 % of them differ. Compared
    within the window's frame (x, y, w, h) as the shell draws it: Mutter 48's X11 frame window
    is wider by borders it leaves undrawn."""
    name = f"the screenshot shows the window's pixels: {path}"
    ids = session.run(["xdotool", "search", "--onlyvisible", "--name", f"^{APP_NAME}$"]).stdout.split()
    if not ids:
        return report.check(False, name, "no window on the X server")
    info = session.run(["xwininfo", "-id", ids[0]]).stdout
    x, y, width, height = (int(re.search(rf"{field}:\s*(-?\d+)", info).group(1)) for field in
                           ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))
    inside_x, inside_y = max(x, frame[0]), max(y, frame[1])
    width = min(x + width, frame[0] + frame[2]) - inside_x
    height = min(y + height, frame[1] + frame[3]) - inside_y
    with tempfile.TemporaryDirectory() as folder:
        own = os.path.join(folder, "window.png")
        session.run(["import", "-silent", "-window", ids[0], own], check=True, timeout=20)
        colours = int(session.run(["identify", "-format", "%k", own], timeout=20).stdout or 0)
        compared = session.run(["compare", "-metric", "AE", "-fuzz", "5%",
                                f"{path}[{width}x{height}+{inside_x - left}+{inside_y - top}]",
                                f"{own}[{width}x{height}+{inside_x - x}+{inside_y - y}]", "null:"], timeout=60)
    differing = compared.stderr.split()
    differing = int(float(differing[0])) if differing and differing[0].replace(".", "", 1).isdigit() else None
    shown = f"{differing} of the window's {width * height} pixels differ" if differing is not None else compared.stderr.strip()
    ok = colours > 16 and differing is not None and differing <= width * height // 100
    return report.check(ok, f"{name} ({shown})" if ok else name, f"the window has {colours} colours" if colours <= 16 else shown)


def checks(report, session, log, app_path, screenshot=""):
    shell = Shell(session.bus)
    # GNOME starts in the overview; windows get the focus once it is hidden.
    shell.eval("Main.overview.hide(); ''")
    start = lambda *options: subprocess.Popen([app_path, *options], env={**session.env, **accessible.ACCESSIBLE_ENV},
                                              stdout=subprocess.DEVNULL, stderr=log)
    gsettings = lambda *words: session.run(["gsettings", "set", "org.gnome.shell", *words], check=True)

    started = time.monotonic()
    app = start()
    try:
        window = wait_for(shell.app_window, 10)
        elapsed = time.monotonic() - started
        if not report.check(window is not None and elapsed <= 1, f'started by a person without a tray, the window '
                            f'"{APP_NAME}" appears after {elapsed:.2f} s',
                            "no window within 10 s" if window is None else f"after {elapsed:.1f} s"):
            return
        if screenshot:
            # GNOME 48 maps the window at 0,0 and then centres it: the picture once it stays put.
            place = lambda w: w and (w["x"], w["y"], w["w"], w["h"])
            previous = [None]
            window = wait_for(lambda: (lambda w: w if place(w) == previous[0] else previous.__setitem__(0, place(w)))(
                shell.app_window()), 5, 0.5) or shell.app_window()
            report.figure(f"window {window['w']}x{window['h']} at {window['x']},{window['y']}")
            margin = 16
            left, top = max(window["x"] - margin, 0), max(window["y"] - margin, 0)
            ok, _ = shell.screenshot.ScreenshotArea(left, top, window["w"] + 2 * margin, window["h"] + 2 * margin, False,
                                                    os.path.abspath(screenshot))
            if report.check(bool(ok), f"a screenshot of the window: {screenshot}"):
                check_picture(report, session, screenshot, left, top, place(window))

        second_started = time.monotonic()
        second = session.run([app_path])
        elapsed = time.monotonic() - second_started
        report.check(second.returncode == 0 and elapsed < 2, f"a second start ends with status 0 after {elapsed * 1000:.0f} ms",
                     f"status {second.returncode} after {elapsed:.1f} s")
        focused = wait_for(lambda: (shell.app_window() or {}).get("focus"), 3)
        report.check(bool(focused), "the running window has the focus after the second start", f"windows {shell.windows()}")

        gsettings("disable-user-extensions", "false")
        gsettings("enabled-extensions", f"['{EXTENSION}']")
        switched = time.monotonic()
        tray = TrayItem.of_process(session, app.pid, 10)
        elapsed = time.monotonic() - switched
        report.check(tray is not None, f"the extension switched on, the item registers with its watcher after {elapsed:.1f} s",
                     "not within 10 s")
        report.check(wait_for(lambda: shell.app_window() is None, 3), "and the window goes", f"windows {shell.windows()}")
        if tray is None:
            return
        check_quit(report, tray, app)

        # The extension on from the start: the item at once, never the window.
        started = time.monotonic()
        app = start()
        tray = TrayItem.of_process(session, app.pid, 10)
        elapsed = time.monotonic() - started
        report.check(tray is not None, f"with the extension from the start the item registers after {elapsed:.1f} s",
                     "not within 10 s")
        # An item that no host reads would bring the window 3 s after the start.
        shown = wait_for(shell.app_window, max(0.0, 4 - elapsed), 0.1)
        report.check(shown is None, "and no window appears within 4 s of the start", f"windows {shell.windows()}")
        status = end(app)
        report.check(status == 0, "SIGTERM ends it with status 0", f"status {status}")

        # The extension off again: the window on a start of its own, for its "Salir".
        gsettings("enabled-extensions", "[]")
        wait_for(lambda: not session.bus.name_has_owner(WATCHER), 3)
        started = time.monotonic()
        app = start()
        shown = wait_for(shell.app_window, 10)
        elapsed = time.monotonic() - started
        if report.check(shown is not None and elapsed <= 1, f"with the extension off again the window appears after "
                        f"{elapsed:.2f} s", "not within 10 s" if shown is None else f"after {elapsed:.1f} s"):
            window = accessible.window_of(report, session, app.pid, 3)
            if window:
                accessible.check_quit(report, window, app)
    finally:
        end(app, 1)
