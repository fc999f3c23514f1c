#!/usr/bin/python3
"""The application against trays that misbehave: when its window shows, and SIGTERM throughout.

    tray_faults.py APP

Run by tray-faults-test.sh (Xvfb is up, no XEmbed tray; HOME and the XDG folders are fresh).
Each case has a session bus of its own (dbus-daemon, nothing activatable) and, but for the
cases without a tray, fake_watcher.py in one of its modes. The window is looked for with
xdotool every 20 ms; each case ends with SIGTERM, which must end the application with status 0
within 2 s, whatever it shows then (in the cases that say so, 1 s after the start: while the
registration hangs or a wait runs). A case whose watcher is read by a host checks that no window shows until 3.5 s after
the start, beyond the time an unread item gives the window.
"""

import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

import probes
from probes import APP_NAME, check, emit, end, exit_status, wait_for

HERE = os.path.dirname(os.path.abspath(__file__))
# No service files: a session bus that starts nothing of its own (no accessibility bus).
BUS_CONFIG = """<busconfig>
  <type>session</type>
  <listen>unix:dir={dir}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

# (what is tried, the watcher's mode or None for no tray, the application's options,
#  SIGTERM after this many seconds or None, the window's earliest and latest time after the
#  start or None for none, what follows: "read" a host reads the item, "leave" the watcher leaves)
CASES = [
    ("no tray, started by a person", None, [], None, (0, 1), None),
    ("no tray, --autostart", None, ["--autostart"], None, (4.5, 7), None),
    ("no tray, --autostart, SIGTERM during the wait", None, ["--autostart"], 1, None, None),
    ("a watcher that refuses the item", "refuse", [], None, (0, 3), None),
    ("a watcher that refuses the item, --autostart", "refuse", ["--autostart"], None, (0, 3), None),
    ("a watcher that never answers, SIGTERM while it hangs", "hang", [], 1, None, None),
    ("a watcher that never answers", "hang", [], None, (0, 3), None),
    ("a watcher that accepts and no host reads, SIGTERM during the wait", "accept", [], 1, None, None),
    ("a watcher that accepts and no host reads", "accept", [], None, (0, 3), "read"),
    ("a watcher and a host that reads the item", "host", [], None, None, "leave"),
]
NO_WINDOW_UNTIL = 3.5
AFTER_LOSS = (4.5, 7)


def shown_window():
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{APP_NAME}$"],
                           capture_output=True, text=True, timeout=10).stdout.split()
    return found[0] if found else None


def first_window(since, until):
    """The seconds after `since` at which the window first shows, looking until `until` seconds
    after it; None when it never does."""
    while time.monotonic() - since < until:
        if shown_window():
            return time.monotonic() - since
        time.sleep(0.02)
    return None


class Session:
    """A session bus of its own, the watcher when there is one, the application, each ended by
    process id."""

    def __init__(self, work, mode):
        self.work = work
        self.bus_dir = tempfile.mkdtemp(dir=work, prefix="bus.")
        config = os.path.join(self.bus_dir, "bus.conf")
        with open(config, "w") as file:
            file.write(BUS_CONFIG.format(dir=self.bus_dir))
        # Its complaint that it cannot raise its descriptor limit, as a user's bus, is left out.
        self.bus = subprocess.Popen(["dbus-daemon", "--config-file", config, "--nofork", "--print-address=1"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.address = self.bus.stdout.readline().strip()
        if not self.address:
            raise RuntimeError("dbus-daemon gave no address")
        self.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address)
        self.watcher = None
        self.events = []  # (time, word, name...) from the watcher
        if mode:
            self.watcher = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "fake_watcher.py"), mode],
                                            env=self.env, stdout=subprocess.PIPE, text=True)
            ready = self.watcher.stdout.readline().strip()
            if ready != "ready":
                raise RuntimeError(f"fake_watcher.py {mode} did not start: {ready!r}")
            threading.Thread(target=self._follow, daemon=True).start()
        self.app = None

    def _follow(self):
        for line in self.watcher.stdout:
            words = line.split()
            self.events.append((float(words[0]), *words[1:]))

    def event(self, word):
        return next((e for e in list(self.events) if e[1] == word), None)

    def start(self, app_path, options, log):
        self.app = subprocess.Popen([app_path, *options], env=self.env, stdout=subprocess.DEVNULL, stderr=log)
        return time.monotonic()

    def end(self):
        for process in (self.app, self.watcher):
            if process is not None:
                end(process, 2)
        self.bus.terminate()
        self.bus.wait()


def check_window(name, session, started, expected):
    """The window shows between expected's bounds after the start; its time, or None."""
    earliest, latest = expected
    shown = first_window(started, latest + 0.5)
    status = session.app.poll()
    detail = (f"it ended with status {status}" if status is not None and shown is None else
              f"no window within {latest + 0.5:.1f} s" if shown is None else f"after {shown:.2f} s")
    within = f"within {latest:g} s" if earliest == 0 else f"{earliest:g} to {latest:g} s after the start"
    ok = shown is not None and earliest <= shown <= latest
    check(ok, f"{name}: the window {within}" + (f" (after {shown:.2f} s)" if ok else ""), detail)
    return shown


def check_term(name, session, when):
    """SIGTERM ends the application with status 0 within 2 s."""
    if session.app.poll() is not None:
        return check(False, f"{name}: SIGTERM {when} ends it with status 0",
                     f"it had already ended with status {session.app.returncode}")
    signalled = time.monotonic()
    session.app.send_signal(signal.SIGTERM)
    status = exit_status(session.app, 2)
    elapsed = time.monotonic() - signalled
    return check(status == 0, f"{name}: SIGTERM {when} ends it with status 0 after {elapsed * 1000:.0f} ms",
                 "still running 2 s later" if status is None else f"status {status}")


def run_case(work, app_path, log, name, mode, options, term_at, expected, then):
    session = Session(work, mode)
    try:
        started = session.start(app_path, options, log)
        if term_at is not None:
            time.sleep(term_at)
            showing = "with the window shown" if shown_window() else "without the window"
            check_term(name, session, f"{term_at:g} s after the start ({showing})")
            return
        where = "with the window shown"
        if expected:
            shown = check_window(name, session, started, expected)
            where = "with the window shown" if shown is not None else "without the window"
        else:
            shown = first_window(started, NO_WINDOW_UNTIL)
            read = session.event("read")
            emit("FIGURE", f"{name}: the host read the item {read[0] - started:.2f} s after the start" if read else
                 f"{name}: the host did not read the item")
            check(shown is None, f"{name}: no window until {NO_WINDOW_UNTIL:g} s after the start",
                  f"the window after {shown:.2f} s" if shown is not None else "")
            where = "in the tray"
        if then == "read" and shown is not None:
            asked = time.monotonic()
            session.watcher.send_signal(signal.SIGUSR1)
            gone = wait_for(lambda: shown_window() is None, 1.5, 0.02)
            elapsed = time.monotonic() - asked
            check(gone and elapsed <= 1, f"{name}: a host then reads the item, the window goes after "
                  f"{elapsed * 1000:.0f} ms", "the window stays" if not gone else f"after {elapsed:.2f} s")
            read = wait_for(lambda: session.event("read") or session.event("unread"), 2)
            check(bool(read) and read[1] == "read", f"{name}: the host read the item's properties",
                  " ".join(read[1:]) if read else "no answer within 2 s")
            where = "in the tray"
        elif then == "leave":
            left = time.monotonic()
            end(session.watcher, 2)
            after = first_window(left, AFTER_LOSS[1] + 0.5)
            ok = after is not None and AFTER_LOSS[0] <= after <= AFTER_LOSS[1]
            check(ok, f"{name}: the watcher leaves the bus, the window after {AFTER_LOSS[0]:g} to {AFTER_LOSS[1]:g} s"
                  + (f" ({after:.2f} s)" if ok else ""),
                  "no window" if after is None else f"after {after:.2f} s")
            where = "with the window shown" if after is not None else "without the window"
        check_term(name, session, where)
    finally:
        session.end()


def checks(log, app_path):
    work = tempfile.mkdtemp(prefix="tray-faults.")
    for case in CASES:
        started = time.monotonic()
        run_case(work, app_path, log, *case)
        emit("FIGURE", f"{case[0]}: {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    sys.exit(probes.run_checks("TRAY-FAULTS", checks, __doc__, sys.argv[1:]))
