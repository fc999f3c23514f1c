"""The whole product inside the virtual machine of desktop-vm-test.sh: the installed application
under the session's tray host, snd-virmidi's two virtual keyboards played by writing their rawmidi
devices, the X11 CLIPBOARD read by xclip and its owner changes timed with XFixes, the menu read and
chosen over D-Bus: the road of a gesture, unplugging with keys held, an input
switched off across a restart and a replug, a hot-plug storm, and the speed beside
`quenlitor-tokens listen` (QUENLITOR_MEASURE=0 skips it; QUENLITOR_PROFILE=perf,dbus profiles it).

    python3 -m desktop xfce FOLDER vm vm APP QUENLITOR-TOKENS
    python3 -m desktop trayer FOLDER vm speed APP QUENLITOR-TOKENS   (the speed alone, an XEmbed tray)
"""

import collections
import os
import re
import signal
import statistics
import subprocess
import sys
import time

from .report import Lines, end, wait_for
from .tray import TrayItem
from .x11 import read_clipboard
from .xfixes import ClipboardWatcher

TAG = "DESKTOP-CHECK"
CMAJ7 = '"Cmaj7" C4 E G B .'
DISCONNECTED = "Entrada desconectada; captura reiniciada."
NOTE_ON, NOTE_OFF = 0x90, 0x80
INPUT_COMMANDS = ("Activar todas las entradas", "Actualizar lista")


class Application:
    """The installed application, started again as the checks need, and its item once registered."""

    def __init__(self, session, path, log, register_timeout):
        self.session, self.path, self.log, self.register_timeout = session, path, log, register_timeout
        self.process = self.tray = None

    def start(self):
        started = time.monotonic()
        self.process = subprocess.Popen([self.path], env=self.session.env, stdout=subprocess.DEVNULL, stderr=self.log)
        if self.register_timeout:
            self.tray = TrayItem.of_process(self.session, self.process.pid, self.register_timeout)
        return time.monotonic() - started

    def rss_kb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    # utime and stime, fields 14 and 15 counted from 1, the 12th and 13th after the name
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def context_switches(pid):
    """Context switches so far of each thread of a process, by thread name: how often it slept."""
    switches = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/comm") as comm, open(f"/proc/{pid}/task/{task}/status") as status:
                name = comm.read().strip()
                switches[name] = switches.get(name, 0) + sum(int(line.split()[1]) for line in status
                                                             if "ctxt_switches" in line)
        except OSError:
            continue
    return switches


class Keyboards:
    """snd-virmidi's rawmidi devices, written to. Unplugging unbinds the card from its driver, as a
    USB disconnect removes a card; plugging binds it again, under the same number and names."""

    DRIVER = "/sys/bus/platform/drivers/snd_virmidi"

    def __init__(self):
        self.fds = {}
        self.card = next(name for name in os.listdir(self.DRIVER) if name.startswith("snd_virmidi."))

    def devices(self):
        return sorted(name for name in os.listdir("/dev/snd") if name.startswith("midiC"))

    def send(self, index, *messages):
        if index not in self.fds:
            self.fds[index] = os.open(f"/dev/snd/{self.devices()[index]}", os.O_WRONLY)
        os.write(self.fds[index], bytes(b for message in messages for b in message))

    def close(self):
        for fd in self.fds.values():
            os.close(fd)
        self.fds = {}

    def unplug(self):
        self.close()
        with open(f"{self.DRIVER}/unbind", "w") as unbind:
            unbind.write(self.card)
        return wait_for(lambda: not self.devices(), 10)

    def plug(self):
        with open(f"{self.DRIVER}/bind", "w") as bind:
            bind.write(self.card)
        return wait_for(lambda: len(self.devices()) >= 2, 10)


def list_sources(tool):
    """`listen --list`: (unique id, connected, name) of each source."""
    result = subprocess.run([tool, "listen", "--list"], capture_output=True, text=True, timeout=30)
    return [tuple(line.split("\t")) for line in result.stdout.splitlines() if line]


def subscribers():
    """How many subscriptions the kernel lists on the virtual keyboards' ports."""
    count, inside = 0, False
    with open("/proc/asound/seq/clients") as clients:
        for line in clients:
            if line.startswith("Client"):
                inside = "Virtual Raw MIDI" in line
            elif inside and "Connecting To:" in line:
                count += len(line.split(":", 1)[1].split(","))
    return count


class Play:
    """The application, the keyboards, the clipboard's changes (a Timeline) and how to read it."""

    def __init__(self, app, keys, clipboard, tool, read):
        self.app, self.keys, self.clipboard, self.tool, self.read = app, keys, clipboard, tool, read

    @property
    def tray(self):
        return self.app.tray

    def play(self, presses, releases):
        for index, note in presses:
            self.keys.send(index, (NOTE_ON, note, 100))
        for index, note in releases:
            self.keys.send(index, (NOTE_OFF, note, 0))

    def gesture(self, presses, releases, timeout=20):
        """The clipboard's text after the key presses then releases, (keyboard, note) each; None
        when it did not change."""
        before = self.clipboard.count()
        self.play(presses, releases)
        return self.read() if self.clipboard.wait_after(before, timeout) is not None else None

    def chord(self, notes, keyboard=0, timeout=20):
        return self.gesture([(keyboard, n) for n in notes], [(keyboard, n) for n in notes], timeout)

    def nothing_copied(self, presses, releases, quiet=2.0):
        before = self.clipboard.count()
        self.play(presses, releases)
        return self.clipboard.wait_after(before, quiet) is None

    def connected(self, count, timeout=60):
        want = "Sin entrada MIDI conectada" if count == 0 else \
            f"Escuchando · {count} entrada{'' if count == 1 else 's'} MIDI"
        return wait_for(lambda: self.tray.line(1) == want, timeout, 0.1)

    def capture_line(self, text, timeout=10):
        return wait_for(lambda: self.tray.line(2) == text, timeout)

    def inputs(self):
        return [(child.label, child.toggle == 1) for child in self.tray.layout().find("Entradas MIDI").children
                if not child.separator and child.label not in INPUT_COMMANDS]


def menu_signals(session, action):
    """The com.canonical.dbusmenu signals on the session bus while action runs, by member."""
    monitor = session.monitor("type='signal',interface='com.canonical.dbusmenu'")
    time.sleep(1)
    action()
    time.sleep(1.2)
    end(monitor.process)
    return re.findall(r"^signal .*interface=com\.canonical\.dbusmenu; member=(\w+)", "\n".join(
        line for _, line in monitor.events), re.M)


def checks(report, session, log, mode, app_path, tool):
    sys.setswitchinterval(0.0005)
    # libxcb and xclip in this process read the display from the environment.
    os.environ.update(session.env)
    clipboard = ClipboardWatcher()
    clipboard.start()
    keys = Keyboards()
    if mode == "speed":
        app = Application(session, app_path, log, 0)
        app.start()
        if report.check(wait_for(lambda: subscribers() >= 2, 90, 0.5), "the application connects both keyboards",
                        f"{subscribers()} subscriptions"):
            speed(report, Play(app, keys, clipboard, tool, None), "CLIPBOARD owner change")
        return end(app.process)
    app = Application(session, app_path, log, 90)
    s = Play(app, keys, clipboard, tool, lambda: read_clipboard(session))
    elapsed = app.start()
    if not report.check(app.tray is not None, "the installed application registers its item with the tray host",
                        "no item within 90 s"):
        return
    report.figure(f"start to item registered: {elapsed:.1f} s")
    # Under emulation the sources connect a few seconds after the item shows: play only then.
    started = time.monotonic()
    if not report.check(s.connected(2), "both virtual keyboards are connected", f"listening line {s.tray.line(1)!r}"):
        return
    report.figure(f"item registered to both sources connected: {time.monotonic() - started:.1f} s")
    gestures(report, session, s)
    unplugging(report, s)
    storm(report, s, cycles=50)
    if os.environ.get("QUENLITOR_MEASURE", "1") != "0":
        speed(report, s, "CLIPBOARD owner change")
    if not report.check(app.process.poll() is None, "the application is still running at the end",
                        f"it ended with status {app.process.returncode}"):
        return
    app.tray.click("Salir", quits=True)
    status = end(app.process, 20)
    report.check(status == 0, 'choosing "Salir" ends the application with status 0', f"status {status}")
    keys.close()


def gestures(report, session, s):
    """The road of one gesture from the keys to the clipboard, across both keyboards, and the
    newest token put back after another program took the clipboard. What the menu and the tokens
    say beyond that is the in-process tests'."""
    for note in (60, 64, 67, 71):
        s.keys.send(0, (NOTE_ON, note, 100))
    report.check(s.capture_line("Tocando: C4 · E4 · G4 · B4"),
                 'while the keys are held the capture line reads "Tocando: C4 · E4 · G4 · B4" at the next opening',
                 f"got {s.tray.line(2)!r}")
    copied = s.gesture([], [(0, note) for note in (64, 71, 60, 67)])
    report.check(copied == CMAJ7, f"C E G B played and released puts {CMAJ7} on the CLIPBOARD", f"got {copied!r}")
    layout = s.tray.layout()
    report.check(layout.children[4].label == CMAJ7 and layout.children[2].label == "Copiado: Cmaj7",
                 "the token line and the capture line, changed while the menu was closed, are current at its next opening",
                 f"{layout.children[4].label!r}, {layout.children[2].label!r}")

    # The menu closed, a gesture changes nothing in it: the host is sent no menu signal.
    played = []
    signals = menu_signals(session, lambda: played.append(s.chord((53, 57, 60, 64))))
    report.check(played == ['"Fmaj7" F3 A C E .'] and signals == [],
                 "while the menu is closed a gesture sends the tray host no menu signal",
                 f"got {played}, {len(signals)} signals: {sorted(set(signals))}")

    before = s.clipboard.count()
    got = s.gesture([(0, 60), (1, 67), (0, 64), (1, 71)], [(0, 60), (1, 71), (0, 64), (1, 67)])
    time.sleep(1)
    report.check(got == CMAJ7 and s.clipboard.since(before) == 1,
                 "a chord split across the two keyboards, keys held on both, gives one token",
                 f"got {got!r} after {s.clipboard.since(before)} copies")

    # Another program takes the clipboard, as an editor's copy does; xclip keeps serving it.
    subprocess.run(["xclip", "-i", "-selection", "clipboard"], input=b"texto de otro programa", timeout=10, check=True)
    wait_for(lambda: s.read() == "texto de otro programa", 5)
    before = s.clipboard.count()
    s.tray.click("Copiar último token")
    got = s.clipboard.wait_after(before, 10) and s.read()
    report.check(got == CMAJ7, '"Copiar último token" puts the newest token back on the clipboard', f"got {got!r}")


def unplugging(report, s):
    """Unplugged with keys held, the gesture is dropped; an input switched off stays off across a
    restart and a replug (the setting follows the unique id), until all are on again."""
    sources_before = list_sources(s.tool)
    s.keys.send(0, (NOTE_ON, 60, 100))
    s.keys.send(1, (NOTE_ON, 64, 100))
    s.capture_line("Tocando: C4 · E4")
    before = s.clipboard.count()
    s.keys.unplug()
    report.check(s.capture_line(DISCONNECTED) and s.connected(0, 20),
                 f'the keyboards unplugged while keys are held show "{DISCONNECTED}"', f"capture line {s.tray.line(2)!r}")
    s.keys.plug()
    report.check(s.connected(2) and s.app.process.poll() is None, "plugged again, both are connected without a restart",
                 f"listening line {s.tray.line(1)!r}")
    sources_after = list_sources(s.tool)
    report.check(sorted(sources_after) == sorted(sources_before) and len(sources_after) == 2,
                 "under the same unique ids", f"before {sources_before}, after {sources_after}")
    got = s.chord((62,))
    report.check(got == '"D4" D4 .' and s.clipboard.since(before) == 1,
                 "playing works again, and the held keys of the dropped gesture are gone", f"got {got!r}")

    entries = s.inputs()
    first = entries[0][0]
    off = 0 if first.endswith("0-0") else 1
    switched_off = [(first, False), (entries[1][0], True)]
    s.tray.click("Entradas MIDI", first)
    report.check(s.connected(1) and s.inputs() == switched_off,
                 f'switching off "{first}" in "Entradas MIDI" disconnects it', f"inputs {s.inputs()}")
    report.check(s.nothing_copied([(off, 65)], [(off, 65)]), "the switched-off keyboard copies nothing")
    status = end(s.app.process, 10)
    report.check(status == 0, "the application ends on SIGTERM with status 0", f"status {status}")
    s.app.start()
    report.check(s.tray is not None and s.connected(1) and s.inputs() == switched_off,
                 "after a restart the keyboard is still off (settings)", f"inputs {s.inputs() if s.tray else None}")
    s.keys.unplug()
    s.connected(0, 20)
    s.keys.plug()
    report.check(s.connected(1) and s.inputs() == switched_off,
                 "and after a replug too: the setting follows the unique id", f"inputs {s.inputs()}")
    report.check(s.nothing_copied([(off, 65)], [(off, 65)]), "it still copies nothing")
    got = s.chord((65,), keyboard=1 - off)
    report.check(got == '"F4" F4 .', "the other keyboard plays", f"got {got!r}")
    s.tray.click("Entradas MIDI", "Activar todas las entradas")
    report.check(s.connected(2) and all(checked for _, checked in s.inputs()),
                 '"Activar todas las entradas" brings it back', f"inputs {s.inputs()}")
    got = s.chord((67,), keyboard=off)
    report.check(got == '"G4" G4 .', "and it plays again", f"got {got!r}")


def storm(report, s, cycles):
    """Plugging and unplugging the keyboards while playing on them, a key down at each unplug."""
    rss_before = s.app.rss_kb()
    lost = []
    notes = [48 + cycle % 24 for cycle in range(cycles)]
    tokens = {note: subprocess.run([s.tool, "token", str(note)], capture_output=True, text=True).stdout.rstrip("\n")
              for note in set(notes)}
    started = time.monotonic()
    for cycle, note in enumerate(notes):
        s.keys.unplug()
        if not s.connected(0, 20):
            lost.append(f"cycle {cycle}: still connected after the unplug")
        s.keys.plug()
        if not s.connected(2, 30):
            lost.append(f"cycle {cycle}: not reconnected")
            continue
        got = s.chord((note,), keyboard=cycle % 2, timeout=10)
        if got != tokens[note]:
            lost.append(f"cycle {cycle}: got {got!r}, expected {tokens[note]!r}")
        s.keys.send(cycle % 2, (NOTE_ON, note + 12, 100))
    s.keys.unplug()
    s.connected(0, 20)
    s.keys.plug()
    report.figure(f"hot-plug storm of {cycles} cycles in {time.monotonic() - started:.0f} s")
    report.check(s.app.process.poll() is None, f"the application stays up through {cycles} cycles of unplugging and plugging")
    report.check(not lost, "no gesture played while connected is lost", "; ".join(lost[:5]))
    present = sorted(name for _, _, name in list_sources(s.tool))
    report.check(s.connected(2) and sorted(name for name, checked in s.inputs() if checked) == present,
                 "it ends connected to exactly the sources present", f"inputs {s.inputs()}, present {present}")
    rss_after = s.app.rss_kb()
    report.figure(f"VmRSS before the storm {rss_before} kB, after {rss_after} kB")
    report.check(rss_after - rss_before <= 2048, "its memory after the storm is within 2 MB of before",
                 f"{rss_after - rss_before} kB more")


def percentile(values, fraction):
    return sorted(values)[round(fraction * (len(values) - 1))]


def speed(report, s, target, paced=200, batches=105, batch=10, hold=0.2):
    """Latency of the last note-off to target (the clipboard's change) and to `listen`'s line over
    the paced gestures, one at a time; with batches, the CPU time per note over those and the
    batched ones, sent a batch at a time."""
    listener = Lines([s.tool, "listen"], s.app.session.env, stderr=subprocess.DEVNULL)
    listener.start()
    if not report.check(wait_for(lambda: subscribers() >= 4, 30, 0.5), "listen connects both keyboards",
                        f"{subscribers()} subscriptions to the keyboards, expected 4"):
        return end(listener.process)
    time.sleep(1)
    chords = [(48, 52, 55, 59), (50, 53, 57, 60), (52, 55, 59, 62), (53, 57, 60, 64)]

    def play(index, held=0.0):
        notes = chords[index % len(chords)]
        s.keys.send(0, *[(NOTE_ON, n, 100) for n in notes], *[(NOTE_OFF, n, 0) for n in notes[:-1]])
        # The last key held a moment, as a hand does: the latency is that of the last note-off
        # alone, not of a backlog. The kernel hands it to both readers before the write returns.
        time.sleep(held)
        released = time.monotonic()
        s.keys.send(0, (NOTE_OFF, notes[-1], 0))
        return released

    ms = lambda v: f"{v * 1000:.1f} ms"
    app, listen = s.app.process.pid, listener.process.pid
    cpu, switches = (cpu_seconds(app), cpu_seconds(listen)), (context_switches(app), context_switches(listen))
    first_line, first_change = listener.count(), s.clipboard.count()
    app_latency, listen_latency, missed = [], [], 0
    started = time.monotonic()
    for index in range(paced):
        before = s.clipboard.count()
        released = play(index, hold)
        copied = s.clipboard.wait_after(before, 10)
        line = listener.wait_after(first_line + index, 10)
        if copied is None or line is None:
            missed += 1
            continue
        app_latency.append(copied - released)
        listen_latency.append(line - released)
    if app_latency:
        app_median, listen_median = statistics.median(app_latency), statistics.median(listen_latency)
        app_p95, listen_p95 = percentile(app_latency, 0.95), percentile(listen_latency, 0.95)
        report.figure(f"latency last note-off to {target}: median {ms(app_median)}, p95 {ms(app_p95)} "
                      f"over {len(app_latency)} gestures ({time.monotonic() - started:.0f} s)")
        report.figure(f"latency last note-off to listen's line: median {ms(listen_median)}, p95 {ms(listen_p95)}")
        report.figure(f"latency ratio application/listen: median {app_median / listen_median:.2f}, "
                      f"p95 {app_p95 / listen_p95:.2f}")
    if not batches:
        report.check(missed == 0, f"{paced} gestures each change the selection and listen's output once",
                     f"{missed} missed")
        return end(listener.process)
    started = time.monotonic()
    profiling = os.environ.get("QUENLITOR_PROFILE", "").split(",")
    monitor = profiler = None
    if "dbus" in profiling:
        monitor = subprocess.Popen(["dbus-monitor", "--session", "--profile"], stdout=open("/tmp/dbus.txt", "w"),
                                   stderr=subprocess.DEVNULL)
    if "perf" in profiling:
        # No build ids: collecting them would read every library over 9p at the end.
        profiler = subprocess.Popen(["perf", "record", "-a", "-B", "-N", "-e", "cpu-clock", "-F", "250", "-o",
                                     "/tmp/perf.data"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if monitor or profiler:
        time.sleep(2)
    for number in range(batches):
        for index in range(batch):
            play(index)
        done = paced + (number + 1) * batch
        listener.wait_after(first_line + done - 1, 30)
        wait_for(lambda: s.clipboard.since(first_change) >= done, 30, 0.02)
    # What the burst left queued (D-Bus traffic between the application and the host) counts too:
    # the CPU time is read once the application has been idle for a second.
    finished = time.monotonic()
    settled = wait_for(lambda: (lambda before: time.sleep(1) or cpu_seconds(app) == before)(cpu_seconds(app)), 300, 0)
    report.figure(f"the application settled {time.monotonic() - finished - 1:.1f} s after the last copy"
                  if settled else "the application was still busy 300 s after the last copy")
    gestures = paced + batches * batch
    notes = gestures * 4
    if monitor:
        end(monitor)
        bus_traffic(report, batches * batch)
    copies, lines = s.clipboard.since(first_change), listener.count() - first_line
    app_cpu, listen_cpu = cpu_seconds(app) - cpu[0], cpu_seconds(listen) - cpu[1]
    shares = []
    for name, pid, before in (("application", app, switches[0]), ("listen", listen, switches[1])):
        threads = {thread: count - before.get(thread, 0) for thread, count in context_switches(pid).items()}
        shares.append(f"{name} {sum(threads.values()) / notes:.1f} (" + ", ".join(
            f"{thread} {count / notes:.1f}" for thread, count in sorted(threads.items(), key=lambda item: -item[1])
            if count) + ")")
    if profiler:
        profiler.send_signal(signal.SIGINT)
        profiler.wait(300)
        profile(report, app, listen)
    end(listener.process)
    report.check(missed == 0 and copies == lines == gestures,
                 f"{gestures} gestures ({notes} notes) each reach the clipboard once and listen's output once",
                 f"{missed} paced gestures missed, {copies} copies, {lines} lines")
    report.figure(f"CPU per note (down and up): application {app_cpu / notes * 1e6:.0f} µs, listen "
                  f"{listen_cpu / notes * 1e6:.0f} µs over {notes} notes; ratio {app_cpu / max(listen_cpu, 1e-9):.2f} "
                  f"(batched part {time.monotonic() - started:.0f} s)")
    report.figure("context switches per note, by thread: " + "; ".join(shares))


def bus_traffic(report, gestures):
    """The session bus's messages while the batched gestures played, by kind and member."""
    with open("/tmp/dbus.txt") as monitored:
        counts = collections.Counter(f"{f[0]} {f[7]}" for f in (line.rstrip("\n").split("\t") for line in monitored)
                                     if len(f) >= 8 and f[0] in ("sig", "mc"))
    for key, count in counts.most_common():
        report.emit("PROFILE", f"{key}: {count} ({count / gestures:.1f} per gesture)")


def profile(report, app_pid, listen_pid):
    """Where the CPU went while the batched gestures played: per process, then within the
    application and within listen (each symbol's share of that process's samples)."""
    for title, arguments in (("all processes", ["--sort", "comm,dso"]),
                             ("application", ["--pid", str(app_pid), "--percentage", "relative", "--sort", "dso,sym"]),
                             ("listen", ["--pid", str(listen_pid), "--percentage", "relative", "--sort", "dso,sym"])):
        report.emit("PROFILE", f"--- {title}")
        for line in subprocess.run(["perf", "report", "-i", "/tmp/perf.data", "--stdio", "--percent-limit", "1",
                                    *arguments], capture_output=True, text=True, timeout=300).stdout.splitlines():
            if line.strip() and not line.startswith("#"):
                report.emit("PROFILE", line.strip())
