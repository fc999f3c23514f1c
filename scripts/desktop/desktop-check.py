#!/usr/bin/python3
"""Acceptance checks of the installed tray application, driven as a desktop drives it.

The application's menu is read and chosen from over D-Bus, as StatusNotifierItem hosts do
(org.kde.StatusNotifierItem properties, com.canonical.dbusmenu GetLayout, AboutToShow and
Event); the clipboard is read by another program (xclip) and its owner changes are watched
with the XFixes extension; MIDI keys are played by writing bytes to snd-virmidi's rawmidi
devices.

    desktop-check.py sni APP       outside the virtual machine, no MIDI: the item and its menu
    desktop-check.py vm APP TOOL   inside it: the whole road of a gesture, settings, unplugging,
                                   a hot-plug storm, and the speed of the whole beside TOOL's
                                   `listen`
    desktop-check.py speed APP TOOL  inside it, the speed alone, for an XEmbed tray

Each check prints one line starting with "<TAG> PASS " or "<TAG> FAIL "; figures start with
"<TAG> FIGURE "; the last line is "<TAG> DONE ok" or "<TAG> DONE failed". TAG is "SNI-CHECK"
or "DESKTOP-CHECK". The session (X server, D-Bus session bus, tray host, XDG folders) is set
up by the caller; this program starts and stops the application itself.
"""

import os
import re
import signal
import statistics
import subprocess
import sys
import threading
import time

import dbus

import probes
from desktop.xfixes import ClipboardWatcher
from probes import APP_NAME, TOOL_TIP, TrayItem, check, emit, wait_for

DISCONNECTED = "Entrada desconectada; captura reiniciada."
CMAJ7 = '"Cmaj7" C4 E G B .'


# --- The clipboard as another program sees it ------------------------------------------------------

def read_clipboard():
    result = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True, timeout=10)
    return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None


def take_clipboard(text):
    """Another program takes the clipboard, as an editor's copy does; xclip keeps serving it."""
    subprocess.run(["xclip", "-i", "-selection", "clipboard"], input=text.encode(), timeout=10, check=True)


# --- The application ------------------------------------------------------------------------------

class Application:
    def __init__(self, path, bus, register_timeout):
        self.path = path
        self.bus = bus
        self.register_timeout = register_timeout
        self.process = None
        self.tray = None

    def start(self):
        started = time.monotonic()
        self.process = subprocess.Popen([self.path], stdout=subprocess.DEVNULL, stderr=open(ERR_LOG, "ab"))
        STARTED.append(self.process)
        if self.bus is None:
            return None
        self.tray = TrayItem.of_process(self.bus, self.process.pid, self.register_timeout)
        return time.monotonic() - started if self.tray else None

    def stop(self, timeout=10):
        self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None

    def running(self):
        return self.process is not None and self.process.poll() is None

    def cpu_seconds(self):
        return process_cpu_seconds(self.process.pid)

    def rss_kb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return None


def process_cpu_seconds(pid):
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
                count = sum(int(line.split()[1]) for line in status if "ctxt_switches" in line)
        except OSError:
            continue
        switches[name] = switches.get(name, 0) + count
    return switches


ERR_LOG = os.environ.get("QUENLITOR_APP_ERR", "/tmp/quenlitor-app.err")
# Every process started here, ended when the checks end whatever their outcome.
STARTED = []


# --- Outside the virtual machine: the item and its menu under a real host ---------------------------

def sni_checks(app_path):
    bus = dbus.SessionBus()
    app = Application(app_path, bus, register_timeout=20)
    elapsed = app.start()
    if not check(app.tray is not None, "the application registers its StatusNotifierItem with the host's watcher",
                 "no item of the application's process within 20 s"):
        return
    emit("FIGURE", f"start to item registered: {elapsed * 1000:.0f} ms")
    tray = app.tray

    title = str(tray.property("Title"))
    check(title == APP_NAME, f'its title is "{APP_NAME}"', f"got {title!r}")
    tool_tip = tray.property("ToolTip")
    tip_title, tip_text = str(tool_tip[2]), str(tool_tip[3])
    check((tip_title, tip_text) in ((TOOL_TIP, ""), (APP_NAME, TOOL_TIP)),
          "its tool tip is the application's tool tip text", f"got title {tip_title!r} and text {tip_text!r}")
    pixmaps = tray.property("IconPixmap")
    sizes = sorted((int(p[0]), int(p[1])) for p in pixmaps)
    drawn = [p for p in pixmaps if any(b != 0 for b in bytes(p[2])[0::4])]
    check(bool(tray.property("IconName")) or (sizes and len(drawn) == len(pixmaps)),
          f"its icon is sent as {len(sizes)} drawn pixmaps ({', '.join(f'{w}x{h}' for w, h in sizes)})",
          f"icon name {str(tray.property('IconName'))!r}, pixmaps {sizes}, {len(drawn)} with visible pixels")
    check(str(tray.property("Status")) == "Active", "its status is Active", str(tray.property("Status")))

    # Without a MIDI sequencer here, the listening line is the error, opening its explanation.
    listening = tray.layout().children[1]
    explained = [child.label for child in listening.children]
    check(not listening.submenu or " ".join(explained).startswith(listening.label.rstrip("…")),
          "a listening line with a submenu holds its whole text there", f"{listening.label!r}: {explained!r}")
    signals = menu_signals(tray.layout, settle=0)
    emit("FIGURE", f"an opening (AboutToShow, GetLayout, closed) sends the host {len(signals)} menu signals "
                   f"({', '.join(f'{signals.count(m)} {m}' for m in sorted(set(signals)))})")

    # Every opening rebuilds the menu: all that a rebuild makes, here and in Qt's D-Bus menu, is
    # freed again (a submenu's items once stayed behind, 8 kB per opening).
    for _ in range(20):
        tray.layout()
    before = app.rss_kb()
    for _ in range(300):
        tray.layout()
    grown = app.rss_kb() - before
    check(grown < 512, f"300 more openings leave its memory as it was ({grown:+d} kB)", f"{grown} kB more")

    # Commands chosen as a host chooses them: Event "clicked".
    tray.click("Pausar captura")
    check(wait_for(lambda: tray.line(2) == "Captura en pausa", 5), 'choosing "Pausar captura" pauses',
          f"capture line {tray.line(2)!r}")
    labels = tray.layout().labels()
    check("Reanudar captura" in labels and "Pausar captura" not in labels, 'the next opening shows "Reanudar captura"',
          f"entries {labels}")
    tray.click("Reanudar captura")
    check(wait_for(lambda: tray.line(2) == "Toca una nota o un acorde.", 5), 'choosing "Reanudar captura" resumes',
          f"capture line {tray.line(2)!r}")

    tray.click("Incluir título del esquema")
    node = wait_for(lambda: (lambda n: n if n.toggle == 0 else None)(tray.layout().find("Incluir título del esquema")), 5)
    check(node is not None, 'choosing "Incluir título del esquema" takes its checkmark off')
    tray.click("Incluir título del esquema")
    node = wait_for(lambda: (lambda n: n if n.toggle == 1 else None)(tray.layout().find("Incluir título del esquema")), 5)
    check(node is not None, "choosing it again puts the checkmark back")

    tray.click("Reiniciar notas retenidas")
    check(wait_for(lambda: tray.line(2) == "Captura reiniciada.", 5),
          'choosing "Reiniciar notas retenidas" shows "Captura reiniciada." at the next opening',
          f"capture line {tray.line(2)!r}")

    tray.click("Entradas MIDI", "Activar todas las entradas")
    tray.click("Entradas MIDI", "Actualizar lista")
    inputs = tray.layout().find("Entradas MIDI")
    check(app.running() and inputs is not None and inputs.labels()[-2:] == ["Activar todas las entradas", "Actualizar lista"],
          "the inputs submenu's commands run and the submenu stays whole")

    tray.click("Salir", quits=True)
    try:
        status = app.process.wait(10)
    except subprocess.TimeoutExpired:
        status = None
    check(status == 0, 'choosing "Salir" ends the application with status 0', f"status {status}")
    check(wait_for(lambda: not TrayItem.registered(bus), 5), "its item leaves the host",
          f"still registered: {TrayItem.registered(bus)}")
    if app.running():
        app.stop()


# --- Inside the virtual machine: the whole road of a gesture ----------------------------------------

NOTE_ON, NOTE_OFF = 0x90, 0x80


class Keyboards:
    """The virtual MIDI keyboards: snd-virmidi's rawmidi devices, written to directly.

    Unplugging unbinds the virtual card from its driver, as a USB disconnect removes a card: the
    kernel deletes its sequencer clients though other clients are subscribed to their ports (which
    keeps the module itself from being removed). Plugging binds it again, under the same card
    number and names."""

    DRIVER = "/sys/bus/platform/drivers/snd_virmidi"

    def __init__(self):
        self.fds = {}
        self.card = next(name for name in os.listdir(self.DRIVER) if name.startswith("snd_virmidi."))

    def devices(self):
        return sorted(name for name in os.listdir("/dev/snd") if name.startswith("midiC"))

    def fd(self, index):
        if index not in self.fds:
            self.fds[index] = os.open(f"/dev/snd/{self.devices()[index]}", os.O_WRONLY)
        return self.fds[index]

    def send(self, index, *messages):
        os.write(self.fd(index), bytes(b for message in messages for b in message))

    def down(self, index, note):
        self.send(index, (NOTE_ON, note, 100))

    def up(self, index, note):
        self.send(index, (NOTE_OFF, note, 0))

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


class Listener(threading.Thread):
    """`quenlitor-tokens listen`, noting when each token line arrives."""

    def __init__(self, tool):
        super().__init__(daemon=True)
        self.process = subprocess.Popen([tool, "listen"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        STARTED.append(self.process)
        self.lines = []
        self.condition = threading.Condition()

    def run(self):
        for raw in self.process.stdout:
            now = time.monotonic()
            with self.condition:
                self.lines.append((now, raw.decode("utf-8", "replace").rstrip("\n")))
                self.condition.notify_all()

    def wait_line(self, index, timeout):
        deadline = time.monotonic() + timeout
        with self.condition:
            while len(self.lines) <= index:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                self.condition.wait(remaining)
            return self.lines[index]


class Session:
    """What the checks in the virtual machine share."""

    def __init__(self, app, keys, clipboard, tool):
        self.app = app
        self.keys = keys
        self.clipboard = clipboard
        self.tool = tool

    @property
    def tray(self):
        return self.app.tray

    def gesture(self, presses, releases, timeout=20):
        """Plays key presses then releases, (keyboard, note) each; the clipboard text it leaves, or
        None when the clipboard did not change."""
        before = self.clipboard.count()
        for index, note in presses:
            self.keys.down(index, note)
        for index, note in releases:
            self.keys.up(index, note)
        if self.clipboard.wait_owned_after(before, timeout) is None:
            return None
        return read_clipboard()

    def chord(self, notes, keyboard=0, timeout=20):
        return self.gesture([(keyboard, n) for n in notes], [(keyboard, n) for n in notes], timeout)

    def nothing_copied(self, presses, releases, quiet=2.0):
        before = self.clipboard.count()
        for index, note in presses:
            self.keys.down(index, note)
        for index, note in releases:
            self.keys.up(index, note)
        return self.clipboard.wait_owned_after(before, quiet) is None

    def connected(self, count, timeout=60):
        want = "Sin entrada MIDI conectada" if count == 0 else \
            f"Escuchando · {count} entrada{'' if count == 1 else 's'} MIDI"
        return wait_for(lambda: self.tray.line(1) == want, timeout, 0.1)

    def capture_line(self, text, timeout=10):
        return wait_for(lambda: self.tray.line(2) == text, timeout)

    def inputs(self):
        node = self.tray.layout().find("Entradas MIDI")
        return [(child.label, child.toggle == 1) for child in node.children
                if not child.separator and child.label not in ("Activar todas las entradas", "Actualizar lista")]


def menu_signals(action, settle=1):
    """The com.canonical.dbusmenu signals on the session bus while action runs (and for settle
    seconds after), by member."""
    monitor = subprocess.Popen(["dbus-monitor", "--session", "type='signal',interface='com.canonical.dbusmenu'"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    STARTED.append(monitor)
    time.sleep(1)
    action()
    time.sleep(settle + 0.2)
    monitor.terminate()
    output, _ = monitor.communicate(timeout=10)
    return [re.search(r"member=(\w+)", line).group(1) for line in output.splitlines()
            if line.startswith("signal") and "interface=com.canonical.dbusmenu" in line]


def vm_checks(app_path, tool, measure):
    bus = dbus.SessionBus()
    clipboard = ClipboardWatcher()
    clipboard.start()
    keys = Keyboards()
    app = Application(app_path, bus, register_timeout=90)
    s = Session(app, keys, clipboard, tool)

    elapsed = app.start()
    if not check(app.tray is not None, "the installed application registers its item with the tray host",
                 "no item within 90 s"):
        return
    emit("FIGURE", f"start to item registered: {elapsed:.1f} s")
    # Under emulation the sources connect a few seconds after the item shows: play only then.
    started = time.monotonic()
    if not check(s.connected(2), "both virtual keyboards are connected", f"listening line {s.tray.line(1)!r}"):
        return
    emit("FIGURE", f"item registered to both sources connected: {time.monotonic() - started:.1f} s")
    sources_before = list_sources(tool)

    # The road of one gesture: C E G B one key after another, released out of order.
    for note in (60, 64, 67, 71):
        keys.down(0, note)
    playing = wait_for(lambda: s.tray.line(2) == "Tocando: C4 · E4 · G4 · B4", 10)
    check(playing, 'while the keys are held the capture line reads "Tocando: C4 · E4 · G4 · B4" at the next opening',
          f"got {s.tray.line(2)!r}")
    before = clipboard.count()
    for note in (64, 71, 60, 67):
        keys.up(0, note)
    copied = clipboard.wait_owned_after(before, 20) and read_clipboard()
    check(copied == CMAJ7, f"C E G B played and released puts {CMAJ7} on the CLIPBOARD", f"got {copied!r}")
    layout = s.tray.layout()
    check(layout.children[4].label == CMAJ7 and layout.children[2].label == "Copiado: Cmaj7",
          "the token line and the capture line, changed while the menu was closed, are current at its next opening",
          f"{layout.children[4].label!r}, {layout.children[2].label!r}")
    history = [CMAJ7]

    for notes, want, name in (((60,), '"C4" C4 .', "a single note"), ((60, 67), '"5j" C4 G .', "an interval"),
                              ((48, 52, 55), '"C" C3 E G .', "a triad")):
        got = s.chord(notes)
        check(got == want, f"{name} ({' '.join(map(str, notes))}) puts {want} on the clipboard", f"got {got!r}")
        history.insert(0, want)

    # The menu closed, a gesture changes nothing in it: the host is sent no menu signal.
    played = []
    signals = menu_signals(lambda: played.append(s.chord((53, 57, 60, 64))))
    check(played == ['"Fmaj7" F3 A C E .'] and signals == [],
          "while the menu is closed a gesture sends the tray host no menu signal",
          f"got {played}, {len(signals)} signals: {sorted(set(signals))}")
    history.insert(0, '"Fmaj7" F3 A C E .')

    check(s.nothing_copied([(0, 20), (0, 60)], [(0, 20), (0, 60)]) and
          s.capture_line("La fuente admite de A0 a C8. El token no se copió.") and read_clipboard() == history[0],
          "a gesture with a note below A0 copies nothing and says why", f"capture line {s.tray.line(2)!r}")

    s.tray.click("Incluir título del esquema")
    wait_for(lambda: s.tray.layout().find("Incluir título del esquema").toggle == 0, 5)
    got = s.chord((71, 64, 60, 67))
    check(got == "C4 E G B ." and s.capture_line("Copiado: Cmaj7"),
          'with "Incluir título del esquema" off the chord is copied without its title, the status still names it',
          f"got {got!r}, capture line {s.tray.line(2)!r}")
    history.insert(0, "C4 E G B .")
    s.tray.click("Incluir título del esquema")
    wait_for(lambda: s.tray.layout().find("Incluir título del esquema").toggle == 1, 5)

    # One gesture across two keyboards: keys held on both at once.
    before = clipboard.count()
    got = s.gesture([(0, 60), (1, 67), (0, 64), (1, 71)], [(0, 60), (1, 71), (0, 64), (1, 67)])
    time.sleep(1)
    check(got == CMAJ7 and clipboard.owned_since(before) == 1,
          "a chord split across the two keyboards, keys held on both, gives one token",
          f"got {got!r} after {clipboard.owned_since(before)} copies")
    history.insert(0, CMAJ7)

    # The recent tokens are current at the next opening, and copy back after another program.
    recent = s.tray.layout().find("Últimos tokens")
    want_recent = [history[0]] + [t for i, t in enumerate(history[1:]) if t != history[i]]
    check(recent.labels() == want_recent, "the recent tokens are current at the next AboutToShow",
          f"got {recent.labels()}, expected {want_recent}")
    take_clipboard("texto de otro programa")
    check(wait_for(lambda: read_clipboard() == "texto de otro programa", 5), "another program takes the clipboard")
    before = clipboard.count()
    s.tray.click("Copiar último token")
    got = clipboard.wait_owned_after(before, 10) and read_clipboard()
    check(got == CMAJ7, '"Copiar último token" puts the newest token back on the clipboard', f"got {got!r}")
    take_clipboard("otro texto")
    before = clipboard.count()
    s.tray.click("Últimos tokens", '"5j" C4 G .')
    got = clipboard.wait_owned_after(before, 10) and read_clipboard()
    check(got == '"5j" C4 G .', 'an entry of "Últimos tokens" puts that token back on the clipboard', f"got {got!r}")

    # Unplugged while a key is held: the gesture is dropped.
    keys.down(0, 60)
    keys.down(1, 64)
    s.capture_line("Tocando: C4 · E4")
    before = clipboard.count()
    keys.unplug()
    check(s.capture_line(DISCONNECTED) and s.connected(0, 20),
          f'the keyboards unplugged while keys are held show "{DISCONNECTED}"', f"capture line {s.tray.line(2)!r}")
    keys.plug()
    check(s.connected(2) and app.running(), "plugged again, both are connected without a restart",
          f"listening line {s.tray.line(1)!r}")
    sources_after = list_sources(tool)
    check(sorted(sources_after) == sorted(sources_before) and len(sources_after) == 2,
          "under the same unique ids", f"before {sources_before}, after {sources_after}")
    got = s.chord((62,))
    check(got == '"D4" D4 .' and clipboard.owned_since(before) == 1,
          "playing works again, and the held keys of the dropped gesture are gone", f"got {got!r}")
    history.insert(0, '"D4" D4 .')

    # A source switched off: it plays nothing, across a restart and a replug, until all are on.
    entries = s.inputs()
    first = entries[0][0]
    device_of_first = 0 if first.endswith("0-0") else 1
    s.tray.click("Entradas MIDI", first)
    check(s.connected(1) and s.inputs() == [(first, False), (entries[1][0], True)],
          f'switching off "{first}" in "Entradas MIDI" disconnects it', f"inputs {s.inputs()}")
    check(s.nothing_copied([(device_of_first, 65)], [(device_of_first, 65)]), "the switched-off keyboard copies nothing")
    status = app.stop()
    check(status == 0, "the application ends on SIGTERM with status 0", f"status {status}")
    app.start()
    check(app.tray is not None and s.connected(1) and s.inputs() == [(first, False), (entries[1][0], True)],
          "after a restart the keyboard is still off (settings)", f"inputs {s.inputs() if app.tray else None}")
    keys.unplug()
    s.connected(0, 20)
    keys.plug()
    check(s.connected(1) and s.inputs() == [(first, False), (entries[1][0], True)],
          "and after a replug too: the setting follows the unique id", f"inputs {s.inputs()}")
    check(s.nothing_copied([(device_of_first, 65)], [(device_of_first, 65)]), "it still copies nothing")
    got = s.chord((65,), keyboard=1 - device_of_first)
    check(got == '"F4" F4 .', "the other keyboard plays", f"got {got!r}")
    s.tray.click("Entradas MIDI", "Activar todas las entradas")
    check(s.connected(2) and all(checked for _, checked in s.inputs()),
          '"Activar todas las entradas" brings it back', f"inputs {s.inputs()}")
    got = s.chord((67,), keyboard=device_of_first)
    check(got == '"G4" G4 .', "and it plays again", f"got {got!r}")

    storm(s, cycles=50)
    if measure:
        speed(s)

    if not check(app.running(), "the application is still running at the end",
                 f"it ended with status {app.process.returncode}"):
        return
    s.tray.click("Salir", quits=True)
    try:
        status = app.process.wait(20)
    except subprocess.TimeoutExpired:
        status = None
    check(status == 0, 'choosing "Salir" ends the application with status 0', f"status {status}")
    keys.close()


def storm(s, cycles):
    """Plugging and unplugging the keyboards while playing on them."""
    rss_before = s.app.rss_kb()
    lost = []
    notes = [48 + cycle % 24 for cycle in range(cycles)]
    tokens = {note: subprocess.run([s.tool, "token", str(note)], capture_output=True, text=True).stdout.rstrip("\n")
              for note in set(notes)}
    started = time.monotonic()
    for cycle in range(cycles):
        s.keys.unplug()
        if not s.connected(0, 20):
            lost.append(f"cycle {cycle}: still connected after the unplug")
        s.keys.plug()
        if not s.connected(2, 30):
            lost.append(f"cycle {cycle}: not reconnected")
            continue
        # A different note each cycle, on alternate keyboards.
        note = notes[cycle]
        got = s.chord((note,), keyboard=cycle % 2, timeout=10)
        want = tokens[note]
        if got != want:
            lost.append(f"cycle {cycle}: got {got!r}, expected {want!r}")
        # Unplugged with a key down, as in a real yank.
        s.keys.down(cycle % 2, note + 12)
    s.keys.unplug()
    s.connected(0, 20)
    s.keys.plug()
    emit("FIGURE", f"hot-plug storm of {cycles} cycles in {time.monotonic() - started:.0f} s")
    check(s.app.running(), f"the application stays up through {cycles} cycles of unplugging and plugging")
    check(not lost, "no gesture played while connected is lost", "; ".join(lost[:5]))
    present = sorted(name for _, _, name in list_sources(s.tool))
    check(s.connected(2) and sorted(name for name, checked in s.inputs() if checked) == present,
          "it ends connected to exactly the sources present", f"inputs {s.inputs()}, present {present}")
    rss_after = s.app.rss_kb()
    emit("FIGURE", f"VmRSS before the storm {rss_before} kB, after {rss_after} kB")
    check(rss_after - rss_before <= 2048, "its memory after the storm is within 2 MB of before",
          f"{rss_after - rss_before} kB more")


def subscribers():
    """How many subscriptions the kernel lists on the virtual keyboards' ports."""
    with open("/proc/asound/seq/clients") as clients:
        text = clients.read()
    count, inside = 0, False
    for line in text.splitlines():
        if line.startswith("Client"):
            inside = "Virtual Raw MIDI" in line
        elif inside and "Connecting To:" in line:
            count += len(line.split(":", 1)[1].split(","))
    return count


def speed_only(app_path, tool):
    """The speed measurement alone, under a tray host that is not driven over D-Bus (XEmbed)."""
    clipboard = ClipboardWatcher()
    clipboard.start()
    app = Application(app_path, None, 0)
    app.start()
    s = Session(app, Keyboards(), clipboard, tool)
    if check(wait_for(lambda: subscribers() >= 2, 90, 0.5), "the application connects both keyboards",
             f"{subscribers()} subscriptions"):
        speed(s)
    app.stop()


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def speed(s, paced=200, batches=105, batch=10, hold=0.2):
    """Latency of the last note-off to the clipboard and to `listen`'s line over the paced gestures,
    one at a time; CPU time per note over those and the batched ones, sent a batch at a time."""
    listener = Listener(s.tool)
    listener.start()
    if not check(wait_for(lambda: subscribers() >= 4, 30, 0.5), "listen connects both keyboards",
                 f"{subscribers()} subscriptions to the keyboards, expected 4"):
        return
    time.sleep(1)
    chords = [(48, 52, 55, 59), (50, 53, 57, 60), (52, 55, 59, 62), (53, 57, 60, 64)]

    def play(index, held=0.0):
        notes = chords[index % len(chords)]
        s.keys.send(0, *[(NOTE_ON, n, 100) for n in notes], *[(NOTE_OFF, n, 0) for n in notes[:-1]])
        # The last key held a moment, as a hand does, so that the latency is that of the last
        # note-off alone and not of a backlog of the others.
        if held:
            time.sleep(held)
        # The kernel hands the note-off to both readers before the write returns.
        released = time.monotonic()
        s.keys.send(0, (NOTE_OFF, notes[-1], 0))
        return released

    ms = lambda v: f"{v * 1000:.1f} ms"
    app_latency, listen_latency = [], []
    app_cpu, listen_cpu = s.app.cpu_seconds(), process_cpu_seconds(listener.process.pid)
    app_switches, listen_switches = context_switches(s.app.process.pid), context_switches(listener.process.pid)
    first_line = len(listener.lines)
    first_change = s.clipboard.count()
    missed = 0
    started = time.monotonic()
    for index in range(paced):
        before = s.clipboard.count()
        released = play(index, hold)
        copied = s.clipboard.wait_owned_after(before, 10)
        line = listener.wait_line(first_line + index, 10)
        if copied is None or line is None:
            missed += 1
            continue
        app_latency.append(copied - released)
        listen_latency.append(line[0] - released)
    if app_latency:
        app_median, listen_median = statistics.median(app_latency), statistics.median(listen_latency)
        app_p95, listen_p95 = percentile(app_latency, 0.95), percentile(listen_latency, 0.95)
        emit("FIGURE", f"latency last note-off to CLIPBOARD owner change: median {ms(app_median)}, p95 {ms(app_p95)} "
                       f"over {len(app_latency)} gestures ({time.monotonic() - started:.0f} s)")
        emit("FIGURE", f"latency last note-off to listen's line: median {ms(listen_median)}, p95 {ms(listen_p95)}")
        emit("FIGURE", f"latency ratio application/listen: median {app_median / listen_median:.2f}, "
                       f"p95 {app_p95 / listen_p95:.2f}")
    started = time.monotonic()
    profiler = monitor = None
    profiling = os.environ.get("QUENLITOR_PROFILE", "").split(",")
    if "dbus" in profiling:
        monitor = subprocess.Popen(["dbus-monitor", "--session", "--profile"], stdout=open("/tmp/dbus.txt", "w"),
                                   stderr=subprocess.DEVNULL)
        STARTED.append(monitor)
        time.sleep(2)
    if "perf" in profiling:
        # No build ids: collecting them would read every library over 9p at the end.
        profiler = subprocess.Popen(["perf", "record", "-a", "-B", "-N", "-e", "cpu-clock", "-F", "250", "-o",
                                     "/tmp/perf.data"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        STARTED.append(profiler)
        time.sleep(2)
    for number in range(batches):
        for index in range(batch):
            play(index)
        done = paced + (number + 1) * batch
        listener.wait_line(first_line + done - 1, 30)
        wait_for(lambda: s.clipboard.owned_since(first_change) >= done, 30, 0.02)
    # What the burst left queued (D-Bus traffic between the application and the host) counts too:
    # the CPU time is read once the application has been idle for a second.
    finished = time.monotonic()
    settled = wait_for(lambda: (lambda before: time.sleep(1) or s.app.cpu_seconds() == before)(s.app.cpu_seconds()),
                       300, 0)
    emit("FIGURE", f"the application settled {time.monotonic() - finished - 1:.1f} s after the last copy"
         if settled else "the application was still busy 300 s after the last copy")
    gestures = paced + batches * batch
    if monitor:
        monitor.terminate()
        monitor.wait(10)
        bus_traffic(batches * batch)
    copies = s.clipboard.owned_since(first_change)
    lines = len(listener.lines) - first_line
    app_cpu = s.app.cpu_seconds() - app_cpu
    listen_cpu = process_cpu_seconds(listener.process.pid) - listen_cpu
    switches = []
    for name, pid, before in (("application", s.app.process.pid, app_switches),
                              ("listen", listener.process.pid, listen_switches)):
        after = context_switches(pid)
        threads = {thread: count - before.get(thread, 0) for thread, count in after.items()}
        switches.append(f"{name} {sum(threads.values()) / (gestures * 4):.1f} ("
                        + ", ".join(f"{thread} {count / (gestures * 4):.1f}" for thread, count in
                                    sorted(threads.items(), key=lambda item: -item[1]) if count) + ")")
    if profiler:
        profiler.send_signal(signal.SIGINT)
        profiler.wait(300)
        profile(s.app.process.pid, listener.process.pid)
    listener.process.send_signal(signal.SIGTERM)
    listener.process.wait(10)
    notes = gestures * 4
    check(missed == 0 and copies == lines == gestures,
          f"{gestures} gestures ({notes} notes) each reach the clipboard once and listen's output once",
          f"{missed} paced gestures missed, {copies} copies, {lines} lines")
    emit("FIGURE", f"CPU per note (down and up): application {app_cpu / notes * 1e6:.0f} µs, listen "
                   f"{listen_cpu / notes * 1e6:.0f} µs over {notes} notes; ratio {app_cpu / max(listen_cpu, 1e-9):.2f} "
                   f"(batched part {time.monotonic() - started:.0f} s)")
    emit("FIGURE", "context switches per note, by thread: " + "; ".join(switches))


def bus_traffic(gestures):
    """The session bus's messages while the batched gestures played, by kind and member."""
    counts = {}
    with open("/tmp/dbus.txt") as monitored:
        for line in monitored:
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 8 and fields[0] in ("sig", "mc"):
                key = f"{fields[0]} {fields[7]}"
                counts[key] = counts.get(key, 0) + 1
    for key, count in sorted(counts.items(), key=lambda item: -item[1]):
        emit("PROFILE", f"{key}: {count} ({count / gestures:.1f} per gesture)")


def profile(app_pid, listen_pid):
    """Where the CPU went while the batched gestures played: per process, then within the
    application and within listen (each symbol's share of that process's samples)."""
    for title, arguments in (("all processes", ["--sort", "comm,dso"]),
                             ("application", ["--pid", str(app_pid), "--percentage", "relative", "--sort", "dso,sym"]),
                             ("listen", ["--pid", str(listen_pid), "--percentage", "relative", "--sort", "dso,sym"])):
        emit("PROFILE", f"--- {title}")
        report = subprocess.run(["perf", "report", "-i", "/tmp/perf.data", "--stdio",
                                 "--percent-limit", "1", *arguments], capture_output=True, text=True, timeout=300)
        for line in report.stdout.splitlines():
            if line.strip() and not line.startswith("#"):
                emit("PROFILE", line.strip())


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("sni", "vm", "speed"):
        print(__doc__, file=sys.stderr)
        return 2
    sys.setswitchinterval(0.0005)
    try:
        if sys.argv[1] == "sni":
            probes.TAG = "SNI-CHECK"
            sni_checks(sys.argv[2])
        elif sys.argv[1] == "speed":
            speed_only(sys.argv[2], sys.argv[3])
        else:
            vm_checks(sys.argv[2], sys.argv[3], measure=os.environ.get("QUENLITOR_MEASURE", "1") != "0")
    except Exception as error:  # a check that cannot go on is one failure, not a hang
        check(False, "the checks ran to the end", f"{type(error).__name__}: {error}")
        for process in STARTED:
            if process.poll() is not None and process.returncode != 0:
                emit("FAIL", f"{' '.join(process.args)} ended with status {process.returncode}")
    finally:
        status = finish()
    return status


def finish():
    """Ends every process the checks started, prints the closing "DONE" line; the exit status."""
    for process in STARTED:
        if process.poll() is None:
            process.kill()
            process.wait()
    emit("DONE", "ok" if probes.failures == 0 else "failed")
    return 0 if probes.failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
