"""What the desktop tests share: one line per check, waiting, and the application's status item
and menu as a StatusNotifierItem host sees them over D-Bus (org.kde.StatusNotifierItem properties,
Activate and ContextMenu, com.canonical.dbusmenu AboutToShow, GetLayout and Event), with the
menu's expected layout; and the menu a click pops up, read from the X server (XWayland under the
Wayland desktops) with how far it opened from the click.

Each check prints one line starting with "<TAG> PASS " or "<TAG> FAIL "; figures start with
"<TAG> FIGURE ". A program sets TAG before its first check and reads `failures` at the end.
"""

import collections
import importlib.util
import math
import os
import re
import signal
import struct
import subprocess
import sys
import textwrap
import time
import zlib

import dbus

TAG = "DESKTOP-CHECK"
failures = 0


APP_NAME = "Quenlitor MIDI a Texto"
TOOL_TIP = "Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V"
USAGE = [
    "1. Conecta y elige tu entrada MIDI.",
    "2. Toca; al soltar todas las teclas se copia.",
    "3. Pega con Ctrl+V en tu editor de texto.",
    "4. Aplica Quenlitor Keyboard y sus ligaduras.",
    "Los títulos quedan entre comillas y el token termina en punto.",
    "Se conservan las octavas reales (C4 = do central).",
    "El pedal no retrasa la copia: cuentan las teclas físicas.",
    "Rango de la fuente: A0–C8.",
    "Reconocimiento: MIDI Piano Quenlitor · 110 acordes.",
]

def emit(kind, text):
    print(f"{TAG} {kind} {text}", flush=True)


def check(ok, name, detail=""):
    global failures
    if ok:
        emit("PASS", name)
    else:
        failures += 1
        emit("FAIL", f"{name}: {detail}" if detail else name)
    return ok


def wait_for(predicate, timeout, step=0.05):
    """The predicate's first true value within timeout seconds, else its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


# --- The menu as the desktop sees it -------------------------------------------------------------

class Node:
    """One entry of a dbusmenu layout."""

    def __init__(self, raw):
        ident, props, children = raw
        self.id = int(ident)
        self.separator = str(props.get("type", "standard")) == "separator"
        self.label = str(props.get("label", ""))
        self.enabled = bool(props.get("enabled", True))
        self.visible = bool(props.get("visible", True))
        self.toggle = int(props["toggle-state"]) if "toggle-type" in props else None
        self.submenu = str(props.get("children-display", "")) == "submenu"
        self.children = [Node(child) for child in children]

    def shape(self):
        """What a person sees: label, enabled, checkmark, submenu, recursively."""
        if self.separator:
            return "---"
        entry = (self.label, self.enabled, self.toggle == 1)
        return entry + (tuple(child.shape() for child in self.children),) if self.submenu else entry

    def entries(self):
        """The shapes of the entries of this menu."""
        return tuple(child.shape() for child in self.children)

    def find(self, *labels):
        node = self
        for label in labels:
            node = next((child for child in node.children if not child.separator and child.label == label), None)
            if node is None:
                return None
        return node

    def labels(self):
        return [child.label for child in self.children if not child.separator]


def cut_command(text, width, ellipsis, enabled, checked, command):
    """A command whose text is longer than width: cut, opening the whole text and the command."""
    entry = (text[:width] + ("…" if ellipsis else ""), enabled, checked)
    if len(text) <= width:
        return (text, enabled, checked)
    lines = textwrap.wrap(text, width, break_long_words=True, break_on_hyphens=False)
    return entry + (tuple((line, False, False) for line in lines) + ("---", command),)


def expected_menu(listening, capture, history, paused, include_title, sources, running=True):
    """The menu's shape for a state, as the rules of the status menu lay it out.

    listening: the listening line's text, or its whole shape (an error line opens its explanation).
    history: the tokens, newest first. sources: (name, checked) in the service's order, or None
    without a MIDI service."""
    newest = history[0] if history else None
    token_line = "Todavía no hay un token"
    if newest:
        token_line = newest[:88] + ("…" if len(newest) > 88 else "")
    inputs = [("No hay entradas disponibles", False, False)] if not sources else []
    inputs += [cut_command(name, 60, True, True, checked, ("Escuchar esta entrada", True, checked))
               for name, checked in (sources or [])]
    inputs += ["---", ("Activar todas las entradas", True, False), ("Actualizar lista", True, False)]
    return (
        (APP_NAME, False, False),
        listening if isinstance(listening, tuple) else (listening, False, False),
        (capture[:100], False, False),
        "---",
        (token_line, False, False),
        ("Copiar último token", newest is not None, False),
        ("Últimos tokens", bool(history), False,
         tuple(cut_command(text, 80, False, True, False, ("Copiar este token", True, False)) for text in history)),
        "---",
        ("Entradas MIDI", sources is not None, False, tuple(inputs)),
        ("Reanudar captura" if paused else "Pausar captura", running, False),
        ("Incluir título del esquema", running, running and include_title),
        ("Reiniciar notas retenidas", running, False),
        "---",
        ("Cómo usar", True, False, tuple((line, False, False) for line in USAGE)),
        ("Salir", True, False),
    )


def shape_difference(got, want, path="menú"):
    """The first difference between two menu shapes, as a readable text, or None."""
    if got == want:
        return None
    if isinstance(got, tuple) and isinstance(want, tuple) and len(got) == len(want) == 4 and got[:3] == want[:3]:
        return shape_difference(got[3], want[3], f"{path} > {got[0]}")
    if isinstance(got, tuple) and isinstance(want, tuple) and got and isinstance(got[0], (tuple, str)):
        for index, (a, b) in enumerate(zip(got, want)):
            if a != b:
                return shape_difference(a, b, f"{path} [{index}]")
        return f"{path}: {len(got)} entries, expected {len(want)}"
    return f"{path}: got {got!r}, expected {want!r}"


class TrayItem:
    """The application's StatusNotifierItem, found through the host's StatusNotifierWatcher."""

    WATCHER = "org.kde.StatusNotifierWatcher"
    ITEM = "org.kde.StatusNotifierItem"
    MENU = "com.canonical.dbusmenu"

    def __init__(self, bus, service, path):
        self.bus = bus
        self.service = service
        self.path = path
        self.item = bus.get_object(service, path)
        menu_path = self.property("Menu")
        self.menu = dbus.Interface(bus.get_object(service, menu_path), self.MENU)

    @classmethod
    def registered(cls, bus):
        """The items the watcher holds, as (service, path)."""
        try:
            watcher = bus.get_object(cls.WATCHER, "/StatusNotifierWatcher")
            items = watcher.Get(cls.WATCHER, "RegisteredStatusNotifierItems", dbus_interface=dbus.PROPERTIES_IFACE)
        except dbus.DBusException:
            return []
        found = []
        for entry in items:
            # "SERVICE/PATH" (KDE, Xfce), "SERVICE@PATH" (GNOME's extension) or the service alone.
            entry = str(entry)
            at, slash = entry.find("@/"), entry.find("/")
            if at > 0:
                found.append((entry[:at], entry[at + 1:]))
            elif slash > 0:
                found.append((entry[:slash], entry[slash:]))
            else:
                found.append((entry, "/StatusNotifierItem"))
        return found

    @classmethod
    def of_process(cls, bus, pid, timeout):
        """The item registered by process pid, waiting up to timeout seconds."""
        bus_daemon = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")

        def find():
            for service, path in cls.registered(bus):
                try:
                    owner = bus_daemon.GetConnectionUnixProcessID(service, dbus_interface="org.freedesktop.DBus")
                except dbus.DBusException:
                    continue
                if int(owner) == pid:
                    return cls(bus, service, path)
            return None

        return wait_for(find, timeout, 0.1)

    def property(self, name):
        return self.item.Get(self.ITEM, name, dbus_interface=dbus.PROPERTIES_IFACE)

    def layout(self, close=True):
        """The whole menu tree as a host shows it: AboutToShow, then GetLayout; with close, the
        "closed" event the host sends when the menu goes away."""
        self.menu.AboutToShow(0, timeout=120)
        _, raw = self.menu.GetLayout(0, -1, dbus.Array([], signature="s"), timeout=120)
        if close:
            self.event(0, "closed")
        return Node(raw)

    def event(self, node_id, name, quits=False):
        self.menu.Event(node_id, name, dbus.Int32(0, variant_level=1), dbus.UInt32(0), ignore_reply=quits)

    def click(self, *labels, quits=False):
        """Chooses the entry at that path of labels, as a host does on a click, and closes the
        menu. An entry that quits the application is not waited for: the application may end
        before its reply leaves."""
        node = self.layout(close=False).find(*labels)
        if node is None:
            self.event(0, "closed")
            raise LookupError(" > ".join(labels))
        self.event(node.id, "clicked", quits)
        if not quits:
            self.event(0, "closed")
        return node

    def line(self, index):
        """The label of the top menu's entry at index (0: the name, 1: listening, 2: capture, 4: token)."""
        return self.layout().children[index].label

    def call(self, method, x, y):
        """Activate, SecondaryActivate or ContextMenu at (x, y), as a host calls it on a click there."""
        getattr(self.item, method)(dbus.Int32(x), dbus.Int32(y), dbus_interface=self.ITEM, timeout=10)


# --- The application's windows on the X server ------------------------------------------------------

Window = collections.namedtuple("Window", "id x y w h")


def shown_windows(wm_class="quenlitor-midi-texto"):
    """The application's windows that are shown (viewable) on $DISPLAY, menus included, wherever
    they sit in the tree (a window manager reparents the managed ones)."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True, timeout=10).stdout
    shown = []
    for ident in re.findall(rf'^\s*(0x[0-9a-f]+) .*\("{re.escape(wm_class)}" ', tree, re.M):
        info = subprocess.run(["xwininfo", "-id", ident], capture_output=True, text=True, timeout=10).stdout
        if "Map State: IsViewable" not in info:
            continue
        field = lambda name: int(re.search(rf"{name}:\s*(-?\d+)", info).group(1))
        shown.append(Window(int(ident, 16), field("Absolute upper-left X"), field("Absolute upper-left Y"),
                            field("Width"), field("Height")))
    return shown


def corner_distance(window, x, y):
    """How far (x, y) is from the window's nearest corner, in pixels."""
    return min(math.hypot(cx - x, cy - y) for cx in (window.x, window.x + window.w) for cy in (window.y, window.y + window.h))


def popup_after(action, timeout=3):
    """The menu-sized window of the application that action shows (one not shown before), or None."""
    before = {window.id for window in shown_windows()}
    action()
    return wait_for(lambda: next((w for w in shown_windows() if w.id not in before and w.w >= 100 and w.h >= 100), None),
                    timeout, 0.1)


def close_popup(window):
    """Escape to the menu (it holds the keyboard); True once it is no longer shown."""
    subprocess.run(["xdotool", "key", "Escape"], capture_output=True, timeout=10)
    return wait_for(lambda: all(shown.id != window.id for shown in shown_windows()), 3, 0.1)


def check_menu_near(action, x, y, what, limit=100):
    """A check that action (a click at (x, y), or the call a host makes for one) opens the
    application's menu with a corner within limit pixels of (x, y); the menu is closed again."""
    name = f"{what} opens the menu within {limit} px of ({x},{y})"
    menu = popup_after(action)
    if menu is None:
        return check(False, name, "no menu window appeared within 3 s")
    distance = corner_distance(menu, x, y)
    shown = f"menu at {menu.x},{menu.y} {menu.w}x{menu.h}, {distance:.0f} px from ({x},{y}) at its nearest corner"
    near = check(distance <= limit, f"{name}: {shown}" if distance <= limit else name, shown)
    if not close_popup(menu):
        check(False, "Escape closes the menu", f"window {menu.id:#x} still shown")
    return near


def check_start_menu(tray):
    """A check that the menu's whole layout over dbusmenu is the one of a fresh start (the listening
    line as it is: without a MIDI sequencer it is the error line)."""
    listening = tray.layout().children[1].shape()
    difference = shape_difference(tray.layout().entries(),
                                  expected_menu(listening, "Toca una nota o un acorde.", [], False, True, []))
    return check(difference is None, "the menu's whole layout over dbusmenu is as laid out", difference)


def check_pause(tray):
    """A check that "Pausar captura", chosen by Event "clicked", pauses."""
    tray.click("Pausar captura")
    return check(wait_for(lambda: tray.line(2) == "Captura en pausa", 5), 'choosing "Pausar captura" pauses',
                 f"capture line {tray.line(2)!r}")


def check_quit(tray, app):
    """A check that "Salir", chosen by Event "clicked", ends the application with status 0."""
    tray.click("Salir", quits=True)
    status = exit_status(app, 10)
    return check(status == 0, 'choosing "Salir" ends it with status 0', f"status {status}")


def exit_status(process, timeout):
    """The process's exit status once it ends, within timeout seconds; else None."""
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        return None


def owner_pid(bus, name):
    """The process id of the connection that owns a bus name, or None."""
    bus_daemon = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
    try:
        return int(bus_daemon.GetConnectionUnixProcessID(name, dbus_interface="org.freedesktop.DBus"))
    except dbus.DBusException:
        return None


def end(process, timeout=5):
    """Ends a process started by the checks with SIGTERM (SIGKILL after timeout seconds); its status."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
    return process.wait()


def write_png(path, width, rows):
    """A picture as a PNG file: rows of RGB bytes, width pixels each."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    with open(path, "wb") as png:
        png.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, len(rows), 8, 2, 0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows), 6)) + chunk(b"IEND", b""))


def run_checks(tag, checks, usage, arguments):
    """Runs checks(log, *arguments) with the application's standard error in log, as TAG; prints
    the closing "DONE" line; the exit status for the program."""
    global TAG
    TAG = tag
    if not arguments:
        print(usage, file=sys.stderr)
        return 2
    with open(os.environ.get("QUENLITOR_APP_ERR", "/dev/null"), "ab") as log:
        try:
            checks(log, *arguments)
        except Exception as error:  # a check that cannot go on is one failure, not a hang
            check(False, "the checks ran to the end", f"{type(error).__name__}: {error}")
    emit("DONE", "ok" if failures == 0 else "failed")
    return 0 if failures == 0 else 1


def desktop_check(tag):
    """desktop-check.py as a module (its name is no module name), its lines tagged TAG: the
    Wayland, X11-bridge and GNOME clipboard checks build on its tray, keyboard and clipboard probes."""
    global TAG
    found = importlib.util.spec_from_file_location("desktop_check",
                                                   os.path.join(os.path.dirname(__file__), "desktop-check.py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    TAG = tag
    return module
