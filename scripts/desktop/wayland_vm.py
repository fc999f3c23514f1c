"""The whole product on a Wayland desktop whose compositor offers data-control (sway), inside the
virtual machine of desktop-vm-test.sh: snd-virmidi's keyboards played (vm.py), the Wayland
selection read by wl-paste and the X11 CLIPBOARD by xclip through the compositor's XWayland
bridge, "Copiar último token" chosen through swaybar's tray after another client took the
selection, and the speed to the Wayland selection (QUENLITOR_MEASURE=0 skips it).

    python3 -m desktop sway FOLDER wayland_vm APP QUENLITOR-TOKENS QUENLITOR-WAYLAND-SELECTION
"""

import os
import subprocess
import sys

from .report import Lines, end
from .vm import CMAJ7, Application, Keyboards, Play, speed
from .x11 import read_clipboard

TAG = "WAYLAND-CHECK"
OTHER = "texto de otra aplicación"


def wl_paste():
    # wl-paste waits for ever on an empty selection: bounded.
    result = subprocess.run(["timeout", "10", "wl-paste", "--no-newline"], capture_output=True)
    return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None


def checks(report, session, log, app_path, tool, selection_tool):
    sys.setswitchinterval(0.0005)
    os.environ.update(session.env)
    # sway's bridge serves the Wayland selection to X11 clients while an X11 window has the focus,
    # as the editor has when the user pastes into it: a window of xmessage is that editor here.
    subprocess.Popen(["xmessage", "-geometry", "400x100+0+40", "editor X11"], stdout=subprocess.DEVNULL, stderr=log)
    # Each change of the Wayland selection as a data-control client sees it, at the watcher's time.
    selection = Lines([selection_tool, "watch"], session.env, parse=lambda line: (True, int(line.split()[0]) / 1e9))
    ready = selection.process.stdout.readline().split()
    if not report.check(ready[:1] == ["ready"], "a data-control client watches the Wayland selection",
                        f"watcher said {ready!r}"):
        return end(selection.process)
    report.figure(f"the compositor offers {ready[1]}")
    selection.start()
    app = Application(session, app_path, log, 90)
    elapsed = app.start()
    if not report.check(app.tray is not None, "the installed application registers its item with swaybar's tray",
                        "no item within 90 s"):
        return
    report.figure(f"start to item registered: {elapsed:.1f} s")
    s = Play(app, Keyboards(), selection, tool, read=wl_paste)
    if not report.check(s.connected(2), "both virtual keyboards are connected", f"listening line {s.tray.line(1)!r}"):
        return

    got = s.gesture([(0, note) for note in (60, 64, 67, 71)], [(0, note) for note in (64, 71, 60, 67)])
    report.check(got == CMAJ7, f"C E G B played and released changes the Wayland selection; wl-paste reads {CMAJ7}",
                 f"got {got!r}")
    got = read_clipboard(session)
    report.check(got == CMAJ7, f"xclip, an X11 client, reads {CMAJ7} through the compositor's bridge", f"got {got!r}")
    before = selection.count()
    subprocess.run(["wl-copy", OTHER], timeout=10, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    selection.wait_after(before, 10)
    got = wl_paste()
    report.check(got == OTHER, "another Wayland client takes the selection", f"got {got!r}")
    before = selection.count()
    s.tray.click("Copiar último token")
    changed = selection.wait_after(before, 20) is not None
    got, x11 = wl_paste(), read_clipboard(session)
    report.check(changed and got == CMAJ7 and x11 == CMAJ7,
                 '"Copiar último token" changes the Wayland selection, for wl-paste and xclip',
                 f"changed {changed}, wl-paste {got!r}, xclip {x11!r}")
    line = s.tray.line(2)
    report.check(line == "Copiado: Cmaj7", 'the capture line reads "Copiado: Cmaj7"', f"got {line!r}")
    if os.environ.get("QUENLITOR_MEASURE", "1") != "0":
        speed(report, s, "Wayland selection change (data-control reader)", batches=0)
    report.check(app.process.poll() is None, "the application is still running")
    end(app.process)
