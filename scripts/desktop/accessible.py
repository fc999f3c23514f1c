"""The application's window as a screen reader reads and uses it, over AT-SPI (the accessibility
bus whose address org.a11y.Bus gives): its widgets' names and roles, its buttons pressed
by their own actions. Qt puts them there with ACCESSIBLE_ENV."""

import collections

import dbus

from .report import exit_status, wait_for
from .tray import APP_NAME

ACCESSIBLE_ENV = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"}
ACCESSIBLE = "org.a11y.atspi.Accessible"
ACTION = "org.a11y.atspi.Action"
ROOT = "/org/a11y/atspi/accessible/root"

Widget = collections.namedtuple("Widget", "name role path")


class AccessibleWindow:
    """The window of the application running as process pid, read on the accessibility bus."""

    def __init__(self, session, bus, connection):
        self.session, self.bus, self.connection = session, bus, connection

    @classmethod
    def of_process(cls, session, pid, timeout):
        """The process's window once its widgets are on the accessibility bus, else None; raises
        DBusException when there is no accessibility bus (at-spi2-core missing)."""
        address = session.bus.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(dbus_interface="org.a11y.Bus")
        bus = dbus.bus.BusConnection(str(address))
        bus_daemon = bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")

        def find():
            for name in bus_daemon.ListNames(dbus_interface="org.freedesktop.DBus"):
                if not name.startswith(":"):
                    continue
                try:
                    owner = bus_daemon.GetConnectionUnixProcessID(name, dbus_interface="org.freedesktop.DBus")
                except dbus.DBusException:
                    continue
                window = cls(session, bus, str(name))
                if int(owner) == pid and window.items():
                    return window
            return None

        return wait_for(find, timeout, 0.2)

    def widget(self, path):
        node = self.bus.get_object(self.connection, path)
        name = node.Get(ACCESSIBLE, "Name", dbus_interface=dbus.PROPERTIES_IFACE)
        return Widget(str(name), str(node.GetRoleName(dbus_interface=ACCESSIBLE)), path)

    def children(self, path):
        return [self.widget(child) for _, child in
                self.bus.get_object(self.connection, path).GetChildren(dbus_interface=ACCESSIBLE)]

    def items(self):
        """The widgets of the window titled with the application's name, after its icon; empty
        while there is none."""
        try:
            window = next((w for w in self.children(ROOT) if w.name == APP_NAME), None)
            return [w for w in self.children(window.path) if w.role != "graphic"] if window else []
        except dbus.DBusException:
            return []

    def find(self, name, needed=False):
        found = next((w for w in self.items() if w.name == name), None)
        if found is None and needed:
            raise LookupError(f"no widget {name!r} in the window: {[w.name for w in self.items()]}")
        return found

    def press(self, name, quits=False):
        """Presses the button (or toggles the check box) named name by its first action, as a
        screen reader does; the widget pressed. A command that quits may end the application
        before its reply leaves. (Qt leaves a call sent without asking for a reply undone.)"""
        widget = self.find(name, True)
        try:
            self.bus.get_object(self.connection, widget.path).DoAction(0, dbus_interface=ACTION, timeout=10)
        except dbus.DBusException:
            if not quits:
                raise
        return widget


def check_quit(report, window, app):
    window.press("Salir", quits=True)
    status = exit_status(app, 10)
    return report.check(status == 0, 'the window\'s "Salir" ends it with status 0', f"status {status}")


def window_of(report, session, pid, timeout):
    """The window of process pid read on the accessibility bus, waiting up to timeout seconds;
    None after a FAIL line saying why not."""
    try:
        window = AccessibleWindow.of_process(session, pid, timeout)
    except dbus.DBusException as error:
        missing = error.get_dbus_name() == "org.freedesktop.DBus.Error.ServiceUnknown"
        report.check(False, "the accessibility bus", "at-spi2-core is missing (no org.a11y.Bus on the session bus); "
              "run scripts/bootstrap.sh --ci" if missing else str(error))
        return None
    if window is None:
        report.check(False, "the window's widgets on the accessibility bus", f"none within {timeout} s")
    return window
