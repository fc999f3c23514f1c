"""The application's status item and menu as a StatusNotifierItem host sees them over D-Bus
(org.kde.StatusNotifierItem properties, Activate and ContextMenu; com.canonical.dbusmenu
AboutToShow, GetLayout and Event). The menu's layout is the application's own, read as a host
reads it: the checks look only at the entries a command changes."""

import dbus

from .report import exit_status, wait_for

APP_NAME = "Quenlitor MIDI a Texto"
WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"


class Node:
    """One entry of a dbusmenu layout."""

    def __init__(self, raw):
        ident, props, children = raw
        self.id = int(ident)
        self.separator = str(props.get("type", "standard")) == "separator"
        self.label = str(props.get("label", ""))
        self.toggle = int(props["toggle-state"]) if "toggle-type" in props else None
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


def registered(bus):
    """The items the watcher holds, as (service, path)."""
    try:
        items = bus.get_object(WATCHER, "/StatusNotifierWatcher").Get(
            WATCHER, "RegisteredStatusNotifierItems", dbus_interface=dbus.PROPERTIES_IFACE)
    except dbus.DBusException:
        return []
    found = []
    for entry in map(str, items):
        # "SERVICE/PATH" (KDE, Xfce, LXQt), "SERVICE@PATH" (GNOME's extension) or the service alone.
        at, slash = entry.find("@/"), entry.find("/")
        found.append((entry[:at], entry[at + 1:]) if at > 0 else (entry[:slash], entry[slash:]) if slash > 0
                     else (entry, "/StatusNotifierItem"))
    return found


class TrayItem:
    """The application's StatusNotifierItem, found through the host's StatusNotifierWatcher."""

    def __init__(self, bus, service, path):
        self.item = bus.get_object(service, path)
        self.menu = dbus.Interface(bus.get_object(service, self.property("Menu")), MENU)

    @classmethod
    def of_process(cls, session, pid, timeout):
        """The item registered by process pid, waiting up to timeout seconds; else None."""
        def find():
            for service, path in registered(session.bus):
                if session.owner_pid(service) == pid:
                    return cls(session.bus, service, path)
            return None

        return wait_for(find, timeout, 0.1)

    def property(self, name):
        return self.item.Get(ITEM, name, dbus_interface=dbus.PROPERTIES_IFACE)

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
        """Chooses the entry at that path of labels as a host does on a click, and closes the menu.
        An entry that quits is not waited for: the application may end before its reply leaves."""
        node = self.layout(close=False).find(*labels)
        if node is None:
            self.event(0, "closed")
            raise LookupError(" > ".join(labels))
        self.event(node.id, "clicked", quits)
        if not quits:
            self.event(0, "closed")
        return node

    def line(self, index):
        """The label of the top menu's entry at index (1: listening, 2: capture, 4: token)."""
        return self.layout().children[index].label

    def call(self, method, x, y):
        """Activate, SecondaryActivate or ContextMenu at (x, y), as a host calls it on a click there."""
        getattr(self.item, method)(dbus.Int32(x), dbus.Int32(y), dbus_interface=ITEM, timeout=10)


def check_quit(report, tray, app):
    """"Salir", chosen by Event "clicked", ends the application with status 0."""
    tray.click("Salir", quits=True)
    status = exit_status(app, 10)
    return report.check(status == 0, 'choosing "Salir" ends it with status 0', f"status {status}")
