"""What the desktop tests share: one line per check, waiting, and the application's status item
and menu as a StatusNotifierItem host sees them over D-Bus (org.kde.StatusNotifierItem properties,
com.canonical.dbusmenu AboutToShow, GetLayout and Event), with the menu's expected layout.

Each check prints one line starting with "<TAG> PASS " or "<TAG> FAIL "; figures start with
"<TAG> FIGURE ". A program sets TAG before its first check and reads `failures` at the end.
"""

import importlib.util
import os
import signal
import subprocess
import sys
import textwrap
import time

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


def end(process, timeout=5):
    """Ends a process started by the checks with SIGTERM (SIGKILL after timeout seconds); its status."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
    return process.wait()


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
    spec = importlib.util.spec_from_file_location("desktop_check",
                                                  os.path.join(os.path.dirname(__file__), "desktop-check.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    TAG = tag
    return module
