"""The application under LXQt's panel (its status notifier plugin, under openbox on Xvfb): the item
registers with the panel's watcher; its icon is drawn in the panel (found in a picture of the
screen); a left click there (Activate) opens the application's menu within 100 px of the click; a
right click opens the panel's own menu, built from the item's dbusmenu, within 100 px; SIGTERM ends it with status 0.

    python3 -m desktop lxqt FOLDER lxqt APP [SCREENSHOT]
"""

import subprocess
import time

from .picture import drawn_box, read_ppm, write_png
from .report import end, wait_for
from .tray import TrayItem
from .x11 import check_menu_near, shown_windows

TAG = "LXQT-PANEL"


def checks(report, session, log, app_path, picture=""):
    started = time.monotonic()
    app = subprocess.Popen([app_path], env=session.env, stdout=subprocess.DEVNULL, stderr=log)
    try:
        tray = TrayItem.of_process(session, app.pid, 20)
        if not report.check(tray is not None, f"the item registers with lxqt-panel's watcher after "
                            f"{time.monotonic() - started:.1f} s", "not within 20 s"):
            return
        screen = lambda: read_ppm(session.run(["import", "-silent", "-window", "root", "-depth", "8", "ppm:-"], text=False).stdout)
        # The panel, at the bottom, holds the item alone: what it draws is the icon.
        # The watcher is up before the panel's window is shown.
        panels = wait_for(lambda: shown_windows(session, "lxqt-panel"), 5, 0.1)
        if not report.check(bool(panels), "lxqt-panel shows its panel", "no window of lxqt-panel within 5 s"):
            return
        panel = max(panels, key=lambda w: w.w)
        icon = wait_for(lambda: (lambda rows: drawn_box(rows, panel.y, panel.y + panel.h, 0, rows[panel.y][:3]))(
            screen()[2]), 5, 0.2)
        width, height, rows = screen()
        write_png(picture or session.path("lxqt.png"), width, rows)
        if not report.check(icon is not None, f"the panel at {panel.x},{panel.y} {panel.w}x{panel.h} draws the icon" +
                            (f" at {icon[0]},{icon[1]} {icon[2]}x{icon[3]}" if icon else ""), "nothing drawn within 5 s"):
            return
        x, y = icon[0] + icon[2] // 2, icon[1] + icon[3] // 2
        click = lambda button: lambda: session.run(["xdotool", "mousemove", str(x), str(y), "click", str(button)])
        check_menu_near(report, session, click(1), x, y, "a left click on the icon")
        check_menu_near(report, session, click(3), x, y, "a right click on the icon, the panel's own menu,",
                        wm_class="lxqt-panel")
        status = end(app, 10)
        report.check(status == 0, "SIGTERM ends the application with status 0", f"status {status}")
    finally:
        end(app, 1)
