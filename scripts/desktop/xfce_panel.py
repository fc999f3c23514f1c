#!/usr/bin/python3
"""The application under Xfce's panel as it crashes, restarts and goes for good.

    xfce_panel.py APP

Run by session.sh (Xvfb, a session bus and xfce4-panel, whose systray plugin is the
StatusNotifierWatcher and host, are up). Checks: the item registers and no window shows within
3.5 s of it; the panel killed and started again, the item is back within 2 s of the new watcher and no
window shows within 5.5 s of the panel's end nor 3.5 s of the item's return; the panel killed for
good, the window appears 5 to 7 s later; a second start then focuses the window and ends at once
with status 0; the panel back, the item registers again and the window goes; SIGTERM ends it with
status 0. Every panel started here is ended here, by process id.
"""

import os
import signal
import subprocess
import sys
import time

import dbus

import probes
from probes import end, owner_pid, TrayItem, check, wait_for

WATCHER = "org.kde.StatusNotifierWatcher"
PANEL = "org.xfce.Panel"
# When the window would come, with some slack: an item that no host reads gives it 3 s after
# the item registered; a tray that went and did not come back, 5 s after it went.
UNREAD_WINDOW = 3.5
LOST_WINDOW = 5.5


def shown_window():
    """The id of the application's window while it is shown, else None."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{probes.APP_NAME}$"],
                           capture_output=True, text=True, timeout=10).stdout.split()
    return int(found[0]) if found else None


def window_until(deadline):
    """The application's window if it shows before the monotonic time deadline, else None: an
    absence is only known once the window has had the time it would take to come."""
    while time.monotonic() < deadline:
        window = shown_window()
        if window is not None:
            return window
        time.sleep(0.05)
    return None


def focused_window():
    result = subprocess.run(["xdotool", "getwindowfocus"], capture_output=True, text=True, timeout=10)
    return int(result.stdout) if result.returncode == 0 and result.stdout.strip() else None


def root_window():
    info = subprocess.run(["xwininfo", "-root"], capture_output=True, text=True, timeout=10).stdout
    return int(info.split("Window id:")[1].split()[0], 16)


def watcher_pid(bus):
    return owner_pid(bus, WATCHER)


def start_panel(log):
    return subprocess.Popen(["xfce4-panel", "--disable-wm-check"], stdout=log, stderr=subprocess.STDOUT)


def kill_panel(bus):
    """Ends the panel running now (SIGKILL: as when it crashes); its systray plugin, where the
    watcher is, runs in a process of its own that ends with the panel."""
    pid = owner_pid(bus, PANEL)
    if pid is not None:
        os.kill(pid, signal.SIGKILL)
    return wait_for(lambda: owner_pid(bus, PANEL) is None and watcher_pid(bus) is None, 10)


def checks(log, app_path):
    bus = dbus.SessionBus()
    panels = []
    app = subprocess.Popen([app_path], stdout=subprocess.DEVNULL, stderr=log)
    try:
        item = TrayItem.of_process(bus, app.pid, 20)
        if not check(item is not None, "the item registers with xfce4-panel's watcher", "not within 20 s"):
            return
        window = window_until(time.monotonic() + UNREAD_WINDOW)
        check(window is None, f"no window within {UNREAD_WINDOW:g} s of the registration", f"window {window}")

        check(kill_panel(bus), "the panel killed, its watcher leaves the bus")
        lost = time.monotonic()
        panels.append(start_panel(log))
        came = wait_for(lambda: watcher_pid(bus) is not None, 30)
        back = time.monotonic()
        item = came and TrayItem.of_process(bus, app.pid, 10)
        elapsed = time.monotonic() - back
        check(bool(item) and elapsed <= 2, f"the panel started again, the item is back {elapsed * 1000:.0f} ms after "
              "the new watcher", "not registered again" if not item else f"after {elapsed:.1f} s")
        until = max(lost + LOST_WINDOW, time.monotonic() + UNREAD_WINDOW)
        window = window_until(until)
        check(window is None, f"no window after the panel's restart, within {until - lost:.1f} s of its end",
              f"window {window}")

        check(kill_panel(bus), "the panel killed for good")
        lost = time.monotonic()
        window = wait_for(shown_window, 10, 0.05)
        elapsed = time.monotonic() - lost
        check(window is not None and 4.5 <= elapsed <= 7, f"the window appears {elapsed:.1f} s after the panel went",
              "no window within 10 s" if window is None else f"after {elapsed:.1f} s, not 5 to 7 s")
        if window is not None:
            # The focus elsewhere first, so that the second start has something to do.
            subprocess.run(["xdotool", "windowfocus", "--sync", str(root_window())], capture_output=True, timeout=10)
            started = time.monotonic()
            second = subprocess.run([app_path], capture_output=True, timeout=10)
            elapsed = time.monotonic() - started
            check(second.returncode == 0 and elapsed < 2, f"a second start ends with status 0 after {elapsed * 1000:.0f} ms",
                  f"status {second.returncode} after {elapsed:.1f} s")
            check(wait_for(lambda: focused_window() == window, 3), "a second start gives the window the focus",
                  f"focus on {focused_window()}, window {window}")

        panels.append(start_panel(log))
        item = wait_for(lambda: watcher_pid(bus) is not None, 30) and TrayItem.of_process(bus, app.pid, 10)
        check(bool(item), "the panel back, the item registers again")
        check(wait_for(lambda: shown_window() is None, 3), "and the window goes")

        status = end(app, 10)
        check(status == 0, "SIGTERM ends the application with status 0", f"status {status}")
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()
        for panel in panels:
            end(panel)


if __name__ == "__main__":
    sys.exit(probes.run_checks("XFCE-PANEL", checks, __doc__, sys.argv[1:]))
