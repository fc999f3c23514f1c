"""The application under Xfce's panel as it crashes, restarts and goes for good: the item
registers and no window shows within 3.5 s of it; the host reads its title, tool tip, drawn icon
and status, and 300 more openings of its menu leave its memory as it was; the panel killed and
started again, the item is back within 2 s of the new watcher and no window shows within 5.5 s of
the panel's end nor 3.5 s of the item's return; the panel killed for good, the window appears 5
to 7 s later, and a second start focuses it and ends at once; the panel back, the item registers
again and the window goes; SIGTERM ends it with status 0 and the item leaves the host."""

import os
import re
import signal
import subprocess
import time

from .report import end, wait_for
from .session import WATCHER
from .tray import APP_NAME, TrayItem, registered
from .x11 import app_window, focused_window, window_until

TAG = "XFCE-PANEL"
TOOL_TIP = "Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V"
# When the window would come, with some slack: an item that no host reads gives it 3 s after the
# item registered; a tray that went and did not come back, 5 s after it went.
UNREAD_WINDOW = 3.5
LOST_WINDOW = 5.5


def kill_panel(session):
    """SIGKILL to the panel, as when it crashes; its systray plugin, where the watcher is, runs in
    a process of its own that ends with it."""
    pid = session.owner_pid("org.xfce.Panel")
    if pid is not None:
        os.kill(pid, signal.SIGKILL)
    return wait_for(lambda: session.owner_pid("org.xfce.Panel") is None and not session.bus.name_has_owner(WATCHER), 10)


def restart_panel(session, app):
    session.start(["xfce4-panel", "--disable-wm-check"], "panel")
    back = wait_for(lambda: session.bus.name_has_owner(WATCHER), 30) and time.monotonic()
    return back and TrayItem.of_process(session, app.pid, 10), back


def check_item(report, tray, pid):
    """The item as the host reads it, and its menu opened 320 times: all that a rebuild of the menu
    makes, here and in Qt's D-Bus menu, is freed again (a submenu's items once stayed behind, 8 kB
    per opening)."""
    title = str(tray.property("Title"))
    report.check(title == APP_NAME, f'its title is "{APP_NAME}"', f"got {title!r}")
    tip = tuple(map(str, tray.property("ToolTip")[2:4]))
    report.check(tip in ((TOOL_TIP, ""), (APP_NAME, TOOL_TIP)), "its tool tip is the application's tool tip text",
                 f"got {tip}")
    pixmaps = tray.property("IconPixmap")
    sizes = sorted((int(p[0]), int(p[1])) for p in pixmaps)
    drawn = [p for p in pixmaps if any(bytes(p[2])[0::4])]
    report.check(bool(tray.property("IconName")) or (sizes and len(drawn) == len(pixmaps)),
                 f"its icon is sent as {len(sizes)} drawn pixmaps ({', '.join(f'{w}x{h}' for w, h in sizes)})",
                 f"icon name {str(tray.property('IconName'))!r}, pixmaps {sizes}, {len(drawn)} with visible pixels")
    report.check(str(tray.property("Status")) == "Active", "its status is Active", str(tray.property("Status")))
    rss = lambda: int(re.search(r"VmRSS:\s+(\d+)", open(f"/proc/{pid}/status").read()).group(1))
    for _ in range(20):
        tray.layout()
    before = rss()
    for _ in range(300):
        tray.layout()
    grown = rss() - before
    report.check(grown < 512, f"300 more openings leave its memory as it was ({grown:+d} kB)", f"{grown} kB more")


def checks(report, session, log, app_path):
    app = subprocess.Popen([app_path], env=session.env, stdout=subprocess.DEVNULL, stderr=log)
    try:
        tray = TrayItem.of_process(session, app.pid, 20)
        if not report.check(tray is not None, "the item registers with xfce4-panel's watcher", "not within 20 s"):
            return
        window = window_until(session, time.monotonic() + UNREAD_WINDOW)
        report.check(window is None, f"no window within {UNREAD_WINDOW:g} s of the registration", f"window {window}")
        check_item(report, tray, app.pid)

        report.check(kill_panel(session), "the panel killed, its watcher leaves the bus")
        lost = time.monotonic()
        item, back = restart_panel(session, app)
        elapsed = time.monotonic() - (back or lost)
        report.check(bool(item) and elapsed <= 2, f"the panel started again, the item is back {elapsed * 1000:.0f} ms "
                     "after the new watcher", "not registered again" if not item else f"after {elapsed:.1f} s")
        until = max(lost + LOST_WINDOW, time.monotonic() + UNREAD_WINDOW)
        window = window_until(session, until)
        report.check(window is None, f"no window after the panel's restart, within {until - lost:.1f} s of its end",
                     f"window {window}")

        report.check(kill_panel(session), "the panel killed for good")
        lost = time.monotonic()
        window = wait_for(lambda: app_window(session), 10)
        elapsed = time.monotonic() - lost
        report.check(window is not None and 4.5 <= elapsed <= 7, f"the window appears {elapsed:.1f} s after the panel went",
                     "no window within 10 s" if window is None else f"after {elapsed:.1f} s, not 5 to 7 s")
        if window is not None:
            # The focus elsewhere first, so that the second start has something to do.
            root = int(session.run(["xwininfo", "-root"]).stdout.split("Window id:")[1].split()[0], 16)
            session.run(["xdotool", "windowfocus", "--sync", str(root)])
            started = time.monotonic()
            second = session.run([app_path])
            elapsed = time.monotonic() - started
            report.check(second.returncode == 0 and elapsed < 2,
                         f"a second start ends with status 0 after {elapsed * 1000:.0f} ms",
                         f"status {second.returncode} after {elapsed:.1f} s")
            report.check(wait_for(lambda: focused_window(session) == window, 3), "a second start gives the window the focus",
                         f"focus on {focused_window(session)}, window {window}")

        item, _ = restart_panel(session, app)
        report.check(bool(item), "the panel back, the item registers again")
        report.check(wait_for(lambda: app_window(session) is None, 3), "and the window goes")
        status = end(app, 10)
        report.check(status == 0, "SIGTERM ends the application with status 0", f"status {status}")
        report.check(wait_for(lambda: not registered(session.bus), 5), "its item leaves the host",
                     f"still registered: {registered(session.bus)}")
    finally:
        end(app, 1)
