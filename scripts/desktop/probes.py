"""What the desktop tests share: one line per check, waiting, and the application's status item
and menu as a StatusNotifierItem host sees them over D-Bus (org.kde.StatusNotifierItem properties,
Activate and ContextMenu, com.canonical.dbusmenu AboutToShow, GetLayout and Event), for the
checks in the virtual machine of desktop-vm-test.sh (desktop-check.py, wayland-check.py).

Each check prints one line starting with "<TAG> PASS " or "<TAG> FAIL "; figures start with
"<TAG> FIGURE ". A program sets TAG before its first check and reads `failures` at the end.
"""

import importlib.util
import os
import time

import dbus

TAG = "DESKTOP-CHECK"
failures = 0


APP_NAME = "Quenlitor MIDI a Texto"
TOOL_TIP = "Quenlitor MIDI a Texto — toca, suelta y pega con Ctrl+V"
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

    def find(self, *labels):
        node = self
        for label in labels:
            node = next((child for child in node.children if not child.separator and child.label == label), None)
            if node is None:
                return None
        return node

    def labels(self):
        return [child.label for child in self.children if not child.separator]


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


def desktop_check(tag):
    """desktop-check.py as a module (its name is no module name), its lines tagged TAG: the
    Wayland checks build on its tray, keyboard and clipboard probes."""
    global TAG
    found = importlib.util.spec_from_file_location("desktop_check",
                                                   os.path.join(os.path.dirname(__file__), "desktop-check.py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    TAG = tag
    return module
