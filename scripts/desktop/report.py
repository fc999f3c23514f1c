"""One line per check, and the waits the checks share."""

import subprocess
import threading
import time


class Report:
    """Prints "<TAG> KIND text" lines and counts the failed checks."""

    def __init__(self, tag):
        self.tag = tag
        self.failures = 0

    def emit(self, kind, text):
        print(f"{self.tag} {kind} {text}", flush=True)

    def figure(self, text):
        self.emit("FIGURE", text)

    def check(self, ok, name, detail=""):
        if ok:
            self.emit("PASS", name)
        else:
            self.failures += 1
            self.emit("FAIL", f"{name}: {detail}" if detail else name)
        return ok

    def done(self):
        self.emit("DONE", "failed" if self.failures else "ok")
        return 1 if self.failures else 0


def wait_for(predicate, timeout, step=0.05):
    """The predicate's first true value within timeout seconds, else its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


def exit_status(process, timeout):
    """The process's exit status once it ends within timeout seconds, else None."""
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        return None


def end(process, timeout=5):
    """SIGTERM, SIGKILL after timeout seconds; the exit status."""
    if process.poll() is None:
        process.terminate()
        if exit_status(process, timeout) is None:
            process.kill()
    return process.wait()


class Timeline(threading.Thread):
    """Events noted with the monotonic time they came at, by a thread that waits for them (run:
    self.add for each); the checks wait for them from another thread."""

    def __init__(self):
        super().__init__(daemon=True)
        self.events = []  # (time, value)
        self.condition = threading.Condition()

    def add(self, value, when=None):
        with self.condition:
            self.events.append((time.monotonic() if when is None else when, value))
            self.condition.notify_all()

    def count(self):
        with self.condition:
            return len(self.events)

    def since(self, index):
        """How many events from index on have a value (a clipboard with an owner)."""
        with self.condition:
            return sum(1 for _, value in self.events[index:] if value)

    def wait_after(self, index, timeout):
        """The time of the first event from index on that has a value, or None after timeout seconds."""
        deadline = time.monotonic() + timeout
        with self.condition:
            while True:
                found = next((when for when, value in self.events[index:] if value), None)
                remaining = deadline - time.monotonic()
                if found is not None or remaining <= 0:
                    return found
                self.condition.wait(remaining)


class Lines(Timeline):
    """A program's output lines as they come (its process in .process); parse makes (value[, time]) of one."""

    def __init__(self, args, env, parse=lambda line: (line,), **options):
        super().__init__()
        self.parse = parse
        self.process = subprocess.Popen(args, env=env, stdout=subprocess.PIPE, text=True, **options)

    def run(self):
        for line in self.process.stdout:
            self.add(*self.parse(line.rstrip("\n")))
