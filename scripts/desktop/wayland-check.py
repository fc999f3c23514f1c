#!/usr/bin/env python3
"""The whole product on a Wayland desktop whose compositor offers data-control (sway), inside the
virtual machine of desktop-vm-test.sh: the installed application, snd-virmidi's keyboards, the
Wayland selection read by wl-paste (a Wayland-native reader) and the X11 CLIPBOARD read by xclip
through the compositor's XWayland bridge, and the menu chosen over D-Bus through swaybar's tray.

Usage: wayland-check.py APPLICATION QUENLITOR-TOKENS QUENLITOR-WAYLAND-SELECTION
Run inside the harness's sway session (python3 -m desktop sway FOLDER --WAYLAND-CHECK …). QUENLITOR_MEASURE=0 skips the speed measurement.
Prints "WAYLAND-CHECK PASS|FAIL|FIGURE ..." lines and "WAYLAND-CHECK DONE ok|failed" last.
"""

import os
import statistics
import subprocess
import sys
import threading
import time

import probes

# The X11 session's checks hold what both share: the tray item, the keyboards, listen.
dc = probes.desktop_check("WAYLAND-CHECK")
check, emit, wait_for = dc.check, dc.emit, dc.wait_for
CMAJ7 = dc.CMAJ7
OTHER = "texto de otra aplicación"


class SelectionWatcher(threading.Thread):
    """The Wayland selection's changes as a data-control client sees them, with the monotonic
    time the watcher took at each (the clock of time.monotonic())."""

    def __init__(self, tool):
        super().__init__(daemon=True)
        self.process = subprocess.Popen([tool, "watch"], stdout=subprocess.PIPE, text=True)
        dc.STARTED.append(self.process)
        self.ready = self.process.stdout.readline().split()
        self.changes = []
        self.condition = threading.Condition()

    def run(self):
        for line in self.process.stdout:
            when, _ = line.split()
            with self.condition:
                self.changes.append(int(when) / 1e9)
                self.condition.notify_all()

    def count(self):
        with self.condition:
            return len(self.changes)

    def wait_after(self, index, timeout):
        """The time of the first change from index on, or None."""
        deadline = time.monotonic() + timeout
        with self.condition:
            while len(self.changes) <= index:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self.condition.wait(remaining)
            return self.changes[index]


def wl_paste():
    # wl-paste waits for ever on an empty selection: bounded.
    result = subprocess.run(["timeout", "10", "wl-paste", "--no-newline"], capture_output=True)
    return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None


def wl_copy(text):
    """Another Wayland client takes the selection; wl-copy stays behind to serve it."""
    subprocess.run(["wl-copy", text], timeout=10, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def checks(app_path, tool, selection_tool, measure):
    bus = dc.dbus.SessionBus()
    # sway's bridge serves the Wayland selection to X11 clients while an X11 window has the focus,
    # as the editor has when the user pastes into it: a window of xmessage is that editor here.
    editor = subprocess.Popen(["xmessage", "-geometry", "400x100+0+40", "editor X11"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dc.STARTED.append(editor)
    selection = SelectionWatcher(selection_tool)
    if not check(selection.ready[:1] == ["ready"], "a data-control client watches the Wayland selection",
                 f"watcher said {selection.ready!r}"):
        return
    emit("FIGURE", f"the compositor offers {selection.ready[1]}")
    selection.start()
    keys = dc.Keyboards()
    app = dc.Application(app_path, bus, register_timeout=90)
    elapsed = app.start()
    if not check(app.tray is not None, "the installed application registers its item with swaybar's tray",
                 "no item within 90 s"):
        return
    emit("FIGURE", f"start to item registered: {elapsed:.1f} s")
    s = dc.Session(app, keys, selection, tool)
    if not check(s.connected(2), "both virtual keyboards are connected", f"listening line {s.tray.line(1)!r}"):
        return

    before = selection.count()
    for note in (60, 64, 67, 71):
        keys.down(0, note)
    for note in (64, 71, 60, 67):
        keys.up(0, note)
    changed = selection.wait_after(before, 20) is not None
    check(changed, "C E G B played and released changes the Wayland selection")
    got = wl_paste()
    check(got == CMAJ7, f"wl-paste, a Wayland client, reads {CMAJ7}", f"got {got!r}")
    got = dc.read_clipboard()
    check(got == CMAJ7, f"xclip, an X11 client, reads {CMAJ7} through the compositor's bridge", f"got {got!r}")
    line = s.tray.line(2)
    check(line == "Copiado: Cmaj7", 'the capture line reads "Copiado: Cmaj7"', f"got {line!r}")

    before = selection.count()
    wl_copy(OTHER)
    selection.wait_after(before, 10)
    got = wl_paste()
    check(got == OTHER, "another Wayland client takes the selection", f"got {got!r}")
    before = selection.count()
    s.tray.click("Copiar último token")
    check(selection.wait_after(before, 20) is not None, '"Copiar último token" changes the Wayland selection')
    got, x11 = wl_paste(), dc.read_clipboard()
    check(got == CMAJ7 and x11 == CMAJ7, '"Copiar último token" puts the token back for wl-paste and xclip',
          f"wl-paste {got!r}, xclip {x11!r}")
    line = s.tray.line(2)
    check(line == "Copiado: Cmaj7", 'the capture line reads "Copiado: Cmaj7" again', f"got {line!r}")

    if measure:
        speed(s, selection)
    check(app.running(), "the application is still running")
    app.stop()


def speed(s, selection, paced=200, hold=0.2):
    """Last note-off to the Wayland selection's change, beside listen's line for the same notes."""
    listener = dc.Listener(s.tool)
    listener.start()
    if not check(wait_for(lambda: dc.subscribers() >= 4, 30, 0.5), "listen connects both keyboards",
                 f"{dc.subscribers()} subscriptions to the keyboards, expected 4"):
        return
    time.sleep(1)
    chords = [(48, 52, 55, 59), (50, 53, 57, 60), (52, 55, 59, 62), (53, 57, 60, 64)]
    app_latency, listen_latency = [], []
    first_line = len(listener.lines)
    missed = 0
    started = time.monotonic()
    for index in range(paced):
        notes = chords[index % len(chords)]
        before = selection.count()
        s.keys.send(0, *[(dc.NOTE_ON, n, 100) for n in notes], *[(dc.NOTE_OFF, n, 0) for n in notes[:-1]])
        time.sleep(hold)
        released = time.monotonic()
        s.keys.send(0, (dc.NOTE_OFF, notes[-1], 0))
        changed = selection.wait_after(before, 10)
        line = listener.wait_line(first_line + index, 10)
        if changed is None or line is None:
            missed += 1
            continue
        app_latency.append(changed - released)
        listen_latency.append(line[0] - released)
    listener.process.terminate()
    listener.process.wait(10)
    check(missed == 0, f"{paced} gestures each change the Wayland selection and listen's output once",
          f"{missed} missed")
    if not app_latency:
        return
    ms = lambda v: f"{v * 1000:.1f} ms"
    app_median, listen_median = statistics.median(app_latency), statistics.median(listen_latency)
    app_p95, listen_p95 = dc.percentile(app_latency, 0.95), dc.percentile(listen_latency, 0.95)
    emit("FIGURE", f"latency last note-off to Wayland selection change (data-control reader): median {ms(app_median)}, "
                   f"p95 {ms(app_p95)} over {len(app_latency)} gestures ({time.monotonic() - started:.0f} s)")
    emit("FIGURE", f"latency last note-off to listen's line: median {ms(listen_median)}, p95 {ms(listen_p95)}")
    emit("FIGURE", f"latency ratio application/listen on Wayland: median {app_median / listen_median:.2f}, "
                   f"p95 {app_p95 / listen_p95:.2f}")


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    sys.setswitchinterval(0.0005)
    try:
        checks(sys.argv[1], sys.argv[2], sys.argv[3], measure=os.environ.get("QUENLITOR_MEASURE", "1") != "0")
    except Exception as error:  # a check that cannot go on is one failure, not a hang
        check(False, "the checks ran to the end", f"{type(error).__name__}: {error}")
    finally:
        status = dc.finish()
    return status


if __name__ == "__main__":
    sys.exit(main())
