"""The application under KDE Plasma (plasmashell's system tray on kwin_wayland, the application on
XWayland): the item registers with kded's watcher; plasmashell killed and started again, the new
host reads the item within 2 s of registering (kded's watcher outlives it) and the item is
registered; the icon is found where Plasma draws it (a KWin screenshot searched for the item's own
pixmaps, else the tray's place from plasmashell's scripting); Activate and ContextMenu there and at
the top left open the menu within 100 px; "Salir" ends it with status 0.

    python3 -m desktop kde FOLDER kde APP [SCREENSHOT]
"""

import json
import os
import re
import signal
import subprocess
import threading
import time

import dbus

from .picture import find_icon, pixmaps, write_png
from .report import end, wait_for
from .session import start_plasmashell
from .tray import TrayItem, check_quit
from .x11 import check_menu_near

TAG = "KDE-PLASMA"
HOST_PREFIX = "org.kde.StatusNotifierHost-"
TOP_LEFT = (60, 40)
# The system tray's place on the screen: its panel's window (a KWin script) and the applet within it.
TRAY_SCRIPT = """
var all = panels();
for (var i = 0; i < all.length; ++i) {
  var trays = all[i].widgets("org.kde.plasma.systemtray");
  if (trays.length) {
    var panel = all[i], g = trays[0].geometry;
    print(JSON.stringify({location: panel.location, height: panel.height, floating: panel.floating,
                          tray: {x: g.x, y: g.y, width: g.width, height: g.height},
                          screen: screenGeometry(panel.screen)}));
  }
}
"""


PANEL_SCRIPT = """
for (const w of workspace.windowList())
  if (w.dock)
    print("QUENLITOR-PANEL", w.frameGeometry.x, w.frameGeometry.y, w.frameGeometry.width, w.frameGeometry.height);
"""


def hosts(session):
    names = session.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").ListNames(
        dbus_interface="org.freedesktop.DBus")
    return [str(name) for name in names if str(name).startswith(HOST_PREFIX)]


HEADER = re.compile(r"^(signal|method call) time=([\d.]+) sender=(\S+) -> destination=(\S+) .*member=(\w+)")


def monitor(session):
    """dbus-monitor watching hosts register with the watcher and read items (GetAll of
    org.kde.StatusNotifierItem): each message's (time, kind, sender, destination, member), the bus's time."""
    return session.monitor(
        "type='method_call',interface='org.kde.StatusNotifierWatcher',member='RegisterStatusNotifierHost'",
        "type='method_call',interface='org.freedesktop.DBus.Properties',member='GetAll',arg0='org.kde.StatusNotifierItem'",
        parse=lambda line: (HEADER.match(line) and HEADER.match(line).groups(),))


def first(messages, member, sender):
    return next((float(m[1]) for _, m in list(messages.events) if m and m[4] == member and m[2] == sender), None)


def check_restart(report, session, app):
    """plasmashell killed (as when it crashes) and started again: the new host reads the item."""
    messages = monitor(session)
    try:
        shell = session.owner_pid("org.kde.plasmashell")
        if not report.check(shell is not None, "plasmashell is on the bus"):
            return
        os.kill(shell, signal.SIGKILL)
        report.check(wait_for(lambda: not hosts(session), 10), "plasmashell killed, its tray host leaves the bus",
                     f"hosts {hosts(session)}")
        start_plasmashell(session)
        started = time.monotonic()
        host = wait_for(lambda: hosts(session), 60, 0.1)
        if not report.check(bool(host), f"plasmashell started again, its host {host[0] if host else ''} registers after "
                            f"{time.monotonic() - started:.1f} s", "no host within 60 s"):
            return
        connection = str(session.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").GetNameOwner(
            host[0], dbus_interface="org.freedesktop.DBus"))
        registered = wait_for(lambda: first(messages, "RegisterStatusNotifierHost", connection), 5)
        read = wait_for(lambda: first(messages, "GetAll", connection), 10)
        item = TrayItem.of_process(session, app.pid, 5)
        delay = read - registered if registered and read else None
        report.check(item is not None and delay is not None and delay <= 2,
                     f"the icon is back: the new host reads the item {(delay or 0) * 1000:.0f} ms after registering, "
                     "the item registered with the watcher",
                     "the new host did not call RegisterStatusNotifierHost" if not registered else
                     f"the new host {connection} did not read the item within 10 s" if not read else
                     "not registered with the watcher" if item is None else f"after {delay:.1f} s")
    finally:
        end(messages.process)


def screenshot(session, path):
    """The whole screen as rows of RGB bytes, through KWin's ScreenShot2 (raw pixels on a pipe), kept
    at path; None where KWin offers no screenshots (KWin 6 composites with QPainter without a GPU,
    and has no screenshot effect there)."""
    if not session.bus.name_has_owner("org.kde.KWin.ScreenShot2"):
        return None
    kwin = session.bus.get_object("org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2")
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
    write_png(path, width, rows)
    return rows


def panel_window(session):
    """The panel's window as KWin places it (x, y, width, height): a KWin script prints it to KWin's
    log. Plasma 6's floating panel's window is taller than the panel and leaves a gap below it."""
    script = session.path("panel.js")
    with open(script, "w") as file:
        file.write(PANEL_SCRIPT)
    kwin = session.bus.get_object("org.kde.KWin", "/Scripting")
    number = int(kwin.loadScript(script, "quenlitor-panel", signature="ss", dbus_interface="org.kde.kwin.Scripting"))
    session.bus.get_object("org.kde.KWin", f"/Scripting/Script{number}").run(dbus_interface="org.kde.kwin.Script")
    found = wait_for(lambda: re.findall(r"QUENLITOR-PANEL (-?[\d.]+) (-?[\d.]+) ([\d.]+) ([\d.]+)",
                                        open(session.path("kwin.log"), errors="replace").read()), 5, 0.1)
    kwin.unloadScript("quenlitor-panel", dbus_interface="org.kde.kwin.Scripting")
    return tuple(int(float(v)) for v in found[-1]) if found else None


def tray_place(session):
    """The middle of the system tray on the screen: the applet's place in its panel from
    plasmashell's scripting, the panel's window from KWin."""
    shell = session.bus.get_object("org.kde.plasmashell", "/PlasmaShell")
    found = json.loads(str(shell.evaluateScript(TRAY_SCRIPT, dbus_interface="org.kde.PlasmaShell", timeout=20)))
    tray, window = found["tray"], panel_window(session)
    if window is None:
        raise RuntimeError("KWin did not say where the panel's window is")
    return int(window[0] + tray["x"] + tray["width"] / 2), int(window[1] + tray["y"] + tray["height"] / 2), found, window


def checks(report, session, log, app_path, picture=""):
    started = time.monotonic()
    app = subprocess.Popen([app_path], env=session.env, stdout=subprocess.DEVNULL, stderr=log)
    try:
        tray = TrayItem.of_process(session, app.pid, 20)
        if not report.check(tray is not None, f"the item registers with the watcher after {time.monotonic() - started:.1f} s",
                            "not within 20 s"):
            return
        check_restart(report, session, app)
        tray = TrayItem.of_process(session, app.pid, 5)
        if tray is None:
            return
        time.sleep(1)
        rows = screenshot(session, picture or session.path("plasma.png"))
        if rows is not None:
            # The panel: the bottom 60 rows.
            icon = find_icon(rows, pixmaps(tray), len(rows) - 60)
            if not report.check(icon is not None, "a screenshot shows the item's icon in the panel" +
                                (f", {icon[2]}x{icon[2]} at {icon[0]},{icon[1]}" if icon else ""),
                                f"none of the item's pixmaps is drawn in the panel: {picture}"):
                return
            place = (icon[0] + icon[2] // 2, icon[1] + icon[2] // 2)
        else:
            x, y, found, window = tray_place(session)
            report.figure(f"no screenshot here; the system tray is at {found['tray']} in the panel's window "
                          f"{window[2]}x{window[3]}+{window[0]}+{window[1]}: its middle at {x},{y}")
            place = (x, y)
        for method in ("Activate", "ContextMenu"):
            for x, y in (place, TOP_LEFT):
                check_menu_near(report, session, lambda: tray.call(method, x, y), x, y, f"{method}({x}, {y})")
        check_quit(report, tray, app)
    finally:
        end(app, 1)
