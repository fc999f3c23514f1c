"""The application under sway with swaybar's tray, clicked as a person clicks it (as an
unprivileged user; the application on XWayland): the item registers with swaybar's watcher; its
icon is drawn at the right end of the bar (a grim screenshot, kept at SCREENSHOT); a left and a
right click on it, through a virtual pointer (swaybar then calls Activate or ContextMenu with the
place it chooses), open the application's menu with a corner within 100 px of the icon;
SIGTERM ends it with status 0. swaybar shows no dbusmenu menus: the click is the only way there.

    python3 -m desktop sway FOLDER sway APP [SCREENSHOT]
"""

import re
import subprocess
import time

from .picture import drawn_box, read_ppm, write_png
from .report import end, wait_for
from .tray import TrayItem
from .wayland import VirtualPointer
from .x11 import check_menu_near

TAG = "SWAYBAR"
BAR_BACKGROUND = bytes((0, 0, 0))
BUTTONS = {"left": 0x110, "right": 0x111}  # BTN_LEFT, BTN_RIGHT (linux/input-event-codes.h)


def find_icon(width, height, rows):
    """What is drawn at the right end of the bar at the top (the tray): the bar is the top rows in
    the bar's colour in the middle."""
    middle = width // 2 * 3
    bar = next((y for y in range(height) if rows[y][middle:middle + 3] != BAR_BACKGROUND), height)
    return drawn_box(rows, 0, bar, width * 3 // 4, BAR_BACKGROUND) if bar else None


def calls(lines):
    """The StatusNotifierItem methods called in dbus-monitor's lines, with their arguments."""
    text = "\n".join(line for _, line in lines) + "\n"
    found = re.findall(r"^method call .*member=(\w+)\n((?:   \S+ .*\n)*)", text, re.M)
    return ", ".join(member + "(" + ", ".join(re.findall(r"int32 (-?\d+)", arguments)) + ")"
                     for member, arguments in found) or "no call"


def checks(report, session, log, app_path, picture=""):
    started = time.monotonic()
    app = subprocess.Popen([app_path], env=session.env, stdout=subprocess.DEVNULL, stderr=log)
    monitor = session.monitor("type='method_call',interface='org.kde.StatusNotifierItem'")
    pointer = None
    try:
        if not report.check(TrayItem.of_process(session, app.pid, 20) is not None,
                            f"the item registers with swaybar's watcher after {time.monotonic() - started:.1f} s",
                            "not within 20 s"):
            return
        screen = lambda: read_ppm(session.run(["grim", "-t", "ppm", "-"], text=False, check=True).stdout)
        icon = wait_for(lambda: find_icon(*screen()), 5, 0.2)
        width, height, rows = screen()
        write_png(picture or session.path("swaybar.png"), width, rows)
        if not report.check(icon is not None, f"swaybar draws the icon at {icon[0]},{icon[1]} {icon[2]}x{icon[3]}" if icon
                            else "swaybar draws the icon", "nothing drawn at the right end of the bar within 5 s"):
            return
        x, y = icon[0] + icon[2] // 2, icon[1] + icon[3] // 2
        pointer = VirtualPointer(session.env)
        for name, button in BUTTONS.items():
            before = monitor.count()
            check_menu_near(report, session, lambda: pointer.click(x, y, button, width, height), x, y,
                            f"a {name} click on the icon")
            report.figure(f"for the {name} click swaybar called {calls(monitor.events[before:])}")
        status = end(app, 10)
        report.check(status == 0, "SIGTERM ends the application with status 0", f"status {status}")
    finally:
        if pointer:
            pointer.close()
        end(monitor.process)
        end(app, 1)
