"""The application's windows and the CLIPBOARD on the X server of a session (XWayland under the
Wayland desktops): found with xwininfo and xdotool, a menu a click opens, how far from the click."""

import collections
import time
import math
import re

from .report import wait_for
from .tray import APP_NAME

Window = collections.namedtuple("Window", "id x y w h")


def geometry(session, ident):
    """The window's place on the screen, or None while it is not shown (viewable)."""
    info = session.run(["xwininfo", "-id", str(ident)]).stdout
    if "Map State: IsViewable" not in info:
        return None
    field = lambda name: int(re.search(rf"{name}:\s*(-?\d+)", info).group(1))
    return Window(int(str(ident), 0), field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                  field("Height"))


def shown_windows(session, wm_class="quenlitor-midi-texto"):
    """The application's shown windows, menus included, wherever a window manager put them."""
    tree = session.run(["xwininfo", "-root", "-tree"]).stdout
    found = (geometry(session, ident) for ident in re.findall(rf'^\s*(0x[0-9a-f]+) .*\("{re.escape(wm_class)}" ', tree, re.M))
    return [window for window in found if window]


def app_window(session):
    """The id of the application's window while it is shown, else None."""
    found = session.run(["xdotool", "search", "--onlyvisible", "--name", f"^{APP_NAME}$"]).stdout.split()
    return int(found[0]) if found else None


def window_until(session, deadline):
    """The application's window if it shows before the monotonic time deadline, else None: an
    absence is only known once the window has had the time it would take to come."""
    while time.monotonic() < deadline:
        window = app_window(session)
        if window is not None:
            return window
        time.sleep(0.05)
    return None


def focused_window(session):
    result = session.run(["xdotool", "getwindowfocus"])
    return int(result.stdout) if result.returncode == 0 and result.stdout.strip() else None


def read_clipboard(session):
    result = session.run(["xclip", "-o", "-selection", "clipboard"], text=False)
    return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None


def check_menu_near(report, session, action, x, y, what, limit=100, wm_class="quenlitor-midi-texto", keys=("Escape",)):
    """That action (a click at (x, y), or the call a host makes for one) opens the application's
    menu (or the host's, drawn by the program of wm_class) with a corner within limit pixels of
    (x, y); keys, pressed in it, close it again."""
    name = f"{what} opens the menu within {limit} px of ({x},{y})"
    before = {window.id for window in shown_windows(session, wm_class)}
    action()
    menu = wait_for(lambda: next((w for w in shown_windows(session, wm_class)
                                  if w.id not in before and w.w >= 100 and w.h >= 100), None), 3, 0.1)
    if menu is None:
        return report.check(False, name, "no menu window appeared within 3 s")
    distance = min(math.hypot(cx - x, cy - y) for cx in (menu.x, menu.x + menu.w) for cy in (menu.y, menu.y + menu.h))
    shown = f"menu at {menu.x},{menu.y} {menu.w}x{menu.h}, {distance:.0f} px from ({x},{y}) at its nearest corner"
    near = report.check(distance <= limit, f"{name}: {shown}" if distance <= limit else name, shown)
    session.run(["xdotool", "key", "--delay", "100", *keys])
    if not wait_for(lambda: all(w.id != menu.id for w in shown_windows(session, wm_class)), 3, 0.1):
        report.check(False, f"{' '.join(keys)} closes the menu", f"window {menu.id:#x} still shown")
    return near
