#!/usr/bin/python3
"""The application under KDE Plasma 5.27: plasmashell's system tray on kwin_wayland.

    kde_plasma.py APP [SCREENSHOT]

Run by kde-session.sh (KWin with XWayland, kded5's StatusNotifierWatcher and plasmashell's tray
host are up; QUENLITOR_PLASMASHELL names the shell's process). The application runs on XWayland.
Checks: the item registers with the watcher and says what a host reads (title, id, status, icon
pixmaps, menu path), with ItemIsMenu true; the menu's whole layout over dbusmenu is as laid out;
Activate(x, y) and ContextMenu(x, y), as Plasma calls them on a click, open the application's
menu with a corner within 100 px of (x, y), near the tray at the bottom right and at the top
left, read from the X server; "Pausar captura" chosen by Event "clicked" pauses; plasmashell
killed and started again, the new host reads the item within 2 s of registering (seen on the bus
with dbus-monitor) and the item is registered; SCREENSHOT, when given, receives the screen
(org.kde.KWin.ScreenShot2), which must show one of the item's icon pixmaps, unscaled, in the
panel (the item back in the tray); "Salir" ends it with status 0.
"""

import os
import re
import signal
import subprocess
import sys
import threading
import time

import dbus

import probes
from probes import APP_NAME, TrayItem, check, check_menu_near, check_pause, check_quit, check_start_menu, emit, end, \
    owner_pid, wait_for

HOST_PREFIX = "org.kde.StatusNotifierHost-"
# Plasma's panel runs along the bottom of the 1280x800 screen; the item sits there at about
# (1070, 778), left of the clock (seen in the screenshot).
NEAR_TRAY = (1070, 778)
TOP_LEFT = (60, 40)


def start_plasmashell():
    """plasmashell on Wayland, its output added to the session's log of it."""
    with open(os.environ.get("QUENLITOR_PLASMASHELL_LOG", "/dev/null"), "ab") as log:
        return subprocess.Popen(["plasmashell", "--no-respawn"], env=dict(os.environ, QT_QPA_PLATFORM="wayland"),
                                stdout=log, stderr=subprocess.STDOUT)


def hosts(bus):
    names = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").ListNames(dbus_interface="org.freedesktop.DBus")
    return [str(name) for name in names if str(name).startswith(HOST_PREFIX)]


class Monitor:
    """dbus-monitor watching hosts register with the watcher and read items (GetAll of
    org.kde.StatusNotifierItem), as (time, kind, sender, destination, member) with the bus's times.
    (kded5's watcher sends no StatusNotifierHostRegistered signal when a host comes back.)"""

    HEADER = re.compile(r"^(signal|method call) time=([\d.]+) sender=(\S+) -> destination=(\S+) .*member=(\w+)")

    def __init__(self):
        self.messages = []
        self.process = subprocess.Popen(
            ["dbus-monitor", "--session",
             "type='method_call',interface='org.kde.StatusNotifierWatcher',member='RegisterStatusNotifierHost'",
             "type='method_call',interface='org.freedesktop.DBus.Properties',member='GetAll',"
             "arg0='org.kde.StatusNotifierItem'"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.ready = threading.Event()
        threading.Thread(target=self._read, daemon=True).start()
        self.ready.wait(5)

    def _read(self):
        for line in self.process.stdout:
            self.ready.set()
            found = self.HEADER.match(line)
            if found:
                kind, when, sender, destination, member = found.groups()
                self.messages.append((float(when), kind, sender, destination, member))

    def first(self, member, sender=None):
        return next((m for m in list(self.messages) if m[4] == member and (sender is None or m[2] == sender)), None)

    def end(self):
        end(self.process)


def screenshot(bus, path):
    """The whole screen as a PNG at path, through KWin's ScreenShot2 (raw pixels on a pipe)."""
    kwin = bus.get_object("org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2")
    read_end, write_end = os.pipe()
    chunks = []
    reader = threading.Thread(target=lambda: chunks.extend(iter(lambda: os.read(read_end, 1 << 20), b"")), daemon=True)
    reader.start()
    pipe = dbus.types.UnixFd(write_end)
    os.close(write_end)
    try:
        meta = kwin.CaptureWorkspace({}, pipe, dbus_interface="org.kde.KWin.ScreenShot2", timeout=20)
    finally:
        del pipe
    reader.join(20)
    os.close(read_end)
    width, height, stride, image_format = (int(meta[key]) for key in ("width", "height", "stride", "format"))
    data = b"".join(chunks)
    # QImage's 32-bit formats (RGB32, ARGB32, premultiplied ARGB32): B, G, R, A in memory.
    if image_format not in (4, 5, 6) or len(data) < stride * height:
        raise RuntimeError(f"screenshot format {image_format}, {len(data)} bytes for {width}x{height}")
    rows = []
    for y in range(height):
        row = data[y * stride:y * stride + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::4], row[1::4], row[0::4]
        rows.append(bytes(rgb))
    probes.write_png(path, width, rows)
    return width, height, rows


def find_icon(rows, pixmaps, top, tolerance=24):
    """Where the picture's rows from `top` down show one of the item's icon pixmaps (as IconPixmap
    gives them: width, height, ARGB32 in network order, not premultiplied) drawn unscaled over the
    panel: its (x, y, side) when all but 5 % of its pixels, laid over the panel's colour at its
    top left corner (a clear pixel), are within `tolerance` of the picture; else None."""
    height, width = len(rows), len(rows[0]) // 3
    pixel = lambda x, y: rows[y][3 * x:3 * x + 3]
    near = lambda got, want: all(abs(got[c] - want[c]) <= tolerance for c in range(3))
    over = lambda alpha, colour, under: [(alpha * colour[c] + (255 - alpha) * under[c]) // 255 for c in range(3)]
    for side, _, argb in sorted(pixmaps):
        if side * side * 4 != len(argb) or argb[0] != 0:
            continue
        pixels = [(i % side, i // side, argb[4 * i], argb[4 * i + 1:4 * i + 4]) for i in range(side * side)]
        # The most opaque pixel first: it rules out most places at once.
        pixels.sort(key=lambda p: -p[2])
        allowed = len(pixels) // 20
        for y in range(top, height - side + 1):
            for x in range(width - side + 1):
                under = pixel(x, y)
                if not near(pixel(x + pixels[0][0], y + pixels[0][1]), over(pixels[0][2], pixels[0][3], under)):
                    continue
                wrong = 0
                for dx, dy, alpha, colour in pixels:
                    wrong += not near(pixel(x + dx, y + dy), over(alpha, colour, under))
                    if wrong > allowed:
                        break
                if wrong <= allowed:
                    return x, y, side
    return None


def item_checks(tray):
    title, ident, status = (str(tray.property(name)) for name in ("Title", "Id", "Status"))
    pixmaps = tray.property("IconPixmap")
    sizes = [f"{int(p[0])}x{int(p[1])}" for p in pixmaps if len(p[2]) > 0]
    menu = str(tray.property("Menu"))
    check(title == APP_NAME and ident != "" and status == "Active" and sizes and menu not in ("", "/"),
          f'it reads as a host reads it: title "{title}", id "{ident}", status {status}, icon pixmaps '
          f"{', '.join(sizes)}, menu {menu}",
          f"title {title!r}, id {ident!r}, status {status!r}, pixmaps {sizes}, menu {menu!r}")
    item_is_menu = bool(tray.property("ItemIsMenu"))
    check(item_is_menu, "ItemIsMenu is true: a click on the icon means the menu", "ItemIsMenu is false")


def restart_checks(bus, app, shells):
    """plasmashell killed (as when it crashes) and started again: the new host reads the item."""
    monitor = Monitor()
    try:
        shell = owner_pid(bus, "org.kde.plasmashell")
        if not check(shell is not None, "plasmashell is on the bus"):
            return
        os.kill(shell, signal.SIGKILL)
        check(wait_for(lambda: not hosts(bus), 10), "plasmashell killed, its tray host leaves the bus", f"hosts {hosts(bus)}")
        shells.append(start_plasmashell())
        started = time.monotonic()
        host = wait_for(lambda: hosts(bus), 60, 0.1)
        if not check(bool(host), f"plasmashell started again, its host {host[0] if host else ''} registers after "
                     f"{time.monotonic() - started:.1f} s", "no host within 60 s"):
            return
        host_connection = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").GetNameOwner(
            host[0], dbus_interface="org.freedesktop.DBus")
        registered = wait_for(lambda: monitor.first("RegisterStatusNotifierHost", str(host_connection)), 5)
        read = wait_for(lambda: monitor.first("GetAll", str(host_connection)), 10)
        item = TrayItem.of_process(bus, app.pid, 5)
        if registered and read:
            delay = read[0] - registered[0]
            emit("FIGURE", f"the new host read the item {delay * 1000:.0f} ms after it registered")
            check(item is not None and delay <= 2,
                  f"the icon is back: the new host reads the item {delay * 1000:.0f} ms after registering, "
                  "the item registered with the watcher", "not registered with the watcher" if item is None
                  else f"after {delay:.1f} s")
        else:
            check(False, "the icon is back: the new host reads the item within 2 s of registering",
                  "the new host did not call RegisterStatusNotifierHost" if not registered else
                  f"the new host {host_connection} did not read the item within 10 s")
    finally:
        monitor.end()


def checks(log, app_path, picture=""):
    bus = dbus.SessionBus()
    shells = []
    started = time.monotonic()
    app = subprocess.Popen([app_path], stdout=subprocess.DEVNULL, stderr=log)
    try:
        tray = TrayItem.of_process(bus, app.pid, 20)
        elapsed = time.monotonic() - started
        if not check(tray is not None, f"the item registers with the watcher after {elapsed:.1f} s", "not within 20 s"):
            return
        item_checks(tray)

        check_start_menu(tray)

        for method in ("Activate", "ContextMenu"):
            for x, y in (NEAR_TRAY, TOP_LEFT):
                check_menu_near(lambda: tray.call(method, x, y), x, y, f"{method}({x}, {y})")

        check_pause(tray)

        restart_checks(bus, app, shells)
        tray = TrayItem.of_process(bus, app.pid, 5)
        if picture and tray is not None:
            time.sleep(1)
            width, height, rows = screenshot(bus, picture)
            pixmaps = [(int(w), int(h), bytes(bytearray(data))) for w, h, data in tray.property("IconPixmap")]
            # The panel: the bottom 60 rows.
            icon = find_icon(rows, pixmaps, height - 60)
            check(icon is not None, f"a screenshot of the screen ({width}x{height}) shows the item's icon in the panel"
                  + (f", {icon[2]}x{icon[2]} at {icon[0]},{icon[1]}: {picture}" if icon else ""),
                  f"none of the item's {len(pixmaps)} pixmaps is drawn in the panel: {picture}")

        if tray is not None:
            check_quit(tray, app)
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()
        for shell in shells:
            end(shell)


if __name__ == "__main__":
    sys.exit(probes.run_checks("KDE-PLASMA", checks, __doc__, sys.argv[1:]))
