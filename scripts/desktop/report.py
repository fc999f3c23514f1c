"""One line per check, and the waits the checks share."""

import subprocess
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
