#!/usr/bin/python3
"""The application against trays that misbehave: when its window shows, and SIGTERM throughout.

    python3 -m desktop x11 FOLDER faults APP

Under Xvfb with no tray, each case on a bus of its own (nothing activatable) with fake_watcher.py
in one of its modes, or none; the window looked for every 20 ms; each case ends with SIGTERM, which
must end the application with status 0 within 2 s (in the cases that say so 1 s after the start,
while the registration hangs or a wait runs). Where a host reads the item, no window until 3.5 s."""

import signal
import subprocess
import sys
import time

from .report import Lines, end, exit_status, wait_for
from .x11 import app_window, window_until

TAG = "TRAY-FAULTS"
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


def first_window(session, since, until):
    """The seconds after `since` at which the window first shows, looking until `until` seconds
    after it; None when it never does."""
    return window_until(session, since + until) and time.monotonic() - since


class Case:
    """A bus of its own, the watcher when there is one, the application, each ended by id."""

    def __init__(self, session, number, mode):
        self.session = session
        self.env = dict(session.env, DBUS_SESSION_BUS_ADDRESS=session.start_bus(f"bus {number}", BUS_CONFIG))
        self.watcher = self.app = self.said = None
        if mode:
            # Its lines: the time, then what happened ("read NAME N").
            self.said = Lines([sys.executable, "-m", "desktop.fake_watcher", mode], self.env,
                              parse=lambda line: (line.split()[1:], float(line.split()[0])))
            self.watcher = self.said.process
            session.processes.append(self.watcher)
            ready = self.watcher.stdout.readline().strip()
            if ready != "ready":
                raise RuntimeError(f"fake_watcher.py {mode} did not start: {ready!r}")
            self.said.start()

    def event(self, word):
        """(time, word, name...) of the watcher's first such event, or None."""
        return next(((when, *words) for when, words in list(self.said.events) if words[0] == word), None)

    def start(self, app_path, options, log):
        self.app = subprocess.Popen([app_path, *options], env=self.env, stdout=subprocess.DEVNULL, stderr=log)
        self.session.processes.append(self.app)
        return time.monotonic()

    def end(self):
        for process in (self.app, self.watcher):
            if process is not None:
                end(process, 2)


def check_window(report, name, case, started, expected):
    """The window shows between expected's bounds after the start; its time, or None."""
    earliest, latest = expected
    shown = first_window(case.session, started, latest + 0.5)
    status = case.app.poll()
    detail = (f"it ended with status {status}" if status is not None and shown is None else
              f"no window within {latest + 0.5:.1f} s" if shown is None else f"after {shown:.2f} s")
    within = f"within {latest:g} s" if earliest == 0 else f"{earliest:g} to {latest:g} s after the start"
    ok = shown is not None and earliest <= shown <= latest
    report.check(ok, f"{name}: the window {within}" + (f" (after {shown:.2f} s)" if ok else ""), detail)
    return shown


def check_term(report, name, case, when):
    """SIGTERM ends the application with status 0 within 2 s."""
    if case.app.poll() is not None:
        return report.check(False, f"{name}: SIGTERM {when} ends it with status 0",
                            f"it had already ended with status {case.app.returncode}")
    signalled = time.monotonic()
    case.app.send_signal(signal.SIGTERM)
    status = exit_status(case.app, 2)
    elapsed = time.monotonic() - signalled
    return report.check(status == 0, f"{name}: SIGTERM {when} ends it with status 0 after {elapsed * 1000:.0f} ms",
                 "still running 2 s later" if status is None else f"status {status}")


def run_case(report, session, number, log, app_path, name, mode, options, term_at, expected, then):
    case = Case(session, number, mode)
    try:
        started = case.start(app_path, options, log)
        if term_at is not None:
            time.sleep(term_at)
        elif expected:
            shown = check_window(report, name, case, started, expected)
        else:
            shown = first_window(session, started, NO_WINDOW_UNTIL)
            read = case.event("read")
            report.figure( f"{name}: the host read the item {read[0] - started:.2f} s after the start" if read else
                 f"{name}: the host did not read the item")
            report.check(shown is None, f"{name}: no window until {NO_WINDOW_UNTIL:g} s after the start",
                  f"the window after {shown:.2f} s" if shown is not None else "")
        if then == "read" and shown is not None:
            asked = time.monotonic()
            case.watcher.send_signal(signal.SIGUSR1)
            gone = wait_for(lambda: app_window(session) is None, 1.5, 0.02)
            elapsed = time.monotonic() - asked
            report.check(gone and elapsed <= 1, f"{name}: a host then reads the item, the window goes after "
                  f"{elapsed * 1000:.0f} ms", "the window stays" if not gone else f"after {elapsed:.2f} s")
            read = wait_for(lambda: case.event("read") or case.event("unread"), 2)
            report.check(bool(read) and read[1] == "read", f"{name}: the host read the item's properties",
                  " ".join(read[1:]) if read else "no answer within 2 s")
        elif then == "leave":
            left = time.monotonic()
            end(case.watcher, 2)
            after = first_window(session, left, AFTER_LOSS[1] + 0.5)
            ok = after is not None and AFTER_LOSS[0] <= after <= AFTER_LOSS[1]
            report.check(ok, f"{name}: the watcher leaves the bus, the window after {AFTER_LOSS[0]:g} to {AFTER_LOSS[1]:g} s"
                  + (f" ({after:.2f} s)" if ok else ""),
                  "no window" if after is None else f"after {after:.2f} s")
        where = "with the window shown" if app_window(session) else "without the window"
        check_term(report, name, case, f"{term_at:g} s after the start ({where})" if term_at is not None else where)
    finally:
        case.end()


def checks(report, session, log, app_path):
    for number, case in enumerate(CASES):
        started = time.monotonic()
        run_case(report, session, number, log, app_path, *case)
        report.figure(f"{case[0]}: {time.monotonic() - started:.1f} s")

