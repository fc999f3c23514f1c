"""The application's window as a screen reader reads and uses it, over AT-SPI (the accessibility
bus whose address org.a11y.Bus gives): its widgets' names, roles, states and places, its buttons
pressed by their own actions or clicked with the pointer. Qt puts them there with ACCESSIBLE_ENV.
The window lays out the status menu's entries in the menu's order after its icon, so the entry at
an index of the menu is the widget at that index of `items()`."""

import collections

import dbus

from .report import exit_status, wait_for
from .tray import APP_NAME

ACCESSIBLE_ENV = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"}
ACCESSIBLE = "org.a11y.atspi.Accessible"
ACTION = "org.a11y.atspi.Action"
COMPONENT = "org.a11y.atspi.Component"
SCREEN = 0  # GetExtents in the screen's coordinates (XWayland's root window's, under a Wayland desktop)
ROOT = "/org/a11y/atspi/accessible/root"
CHECKED = 4  # AT-SPI's state number: a bit of the two words GetState returns

Widget = collections.namedtuple("Widget", "name role states path")


class AccessibleWindow:
    """The window of the application running as process pid, read on the accessibility bus."""

    def __init__(self, session, bus, connection):
        self.session = session
        self.bus = bus
        self.connection = connection

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
        low, high = node.GetState(dbus_interface=ACCESSIBLE)
        return Widget(str(name), str(node.GetRoleName(dbus_interface=ACCESSIBLE)), int(low) | int(high) << 32, path)

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

    def line(self, index):
        """The text of the widget at index (0: the name, 1: listening, 2: capture, 4: token)."""
        items = self.items()
        return items[index].name if index < len(items) else None

    def find(self, name):
        return next((w for w in self.items() if w.name == name), None)

    def press(self, name, quits=False):
        """Presses the button (or toggles the check box) named name by its first action, as a
        screen reader does; the widget pressed. A command that quits may end the application
        before its reply leaves. (Qt leaves a call sent without asking for a reply undone.)"""
        widget = self.find(name)
        if widget is None:
            raise LookupError(f"no widget {name!r} in the window: {[w.name for w in self.items()]}")
        try:
            self.bus.get_object(self.connection, widget.path).DoAction(0, dbus_interface=ACTION, timeout=10)
        except dbus.DBusException:
            if not quits:
                raise
        return widget

    def click(self, name):
        """Clicks the widget named name with the pointer (XTEST, through xdotool) in its middle, where
        the accessibility bus places it; the widget clicked."""
        widget = self.find(name)
        if widget is None:
            raise LookupError(f"no widget {name!r} in the window: {[w.name for w in self.items()]}")
        x, y, width, height = map(int, self.bus.get_object(self.connection, widget.path).GetExtents(
            dbus.UInt32(SCREEN), dbus_interface=COMPONENT))
        self.session.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "1"], check=True)
        return widget


def checked(widget):
    """Whether the check box is checked; None without it."""
    return None if widget is None else bool(widget.states >> CHECKED & 1)


def check_commands(report, window):
    """Checks that the window's commands work as a person uses them: "Reiniciar notas retenidas",
    clicked with the pointer, resets; pressed as a screen reader presses them, "Pausar captura"
    pauses (the capture line and the button say so) and "Reanudar captura" resumes, and the
    title's check box flips and flips back. The capture line and the title's mark end as at the
    start."""
    window.click("Reiniciar notas retenidas")
    report.check(wait_for(lambda: window.line(2) == "Captura reiniciada.", 3),
                 'in the window "Reiniciar notas retenidas", clicked, resets: "Captura reiniciada."',
                 f"capture line {window.line(2)!r}")

    window.press("Pausar captura")
    paused = wait_for(lambda: window.line(2) == "Captura en pausa" and window.find("Reanudar captura"), 3)
    report.check(bool(paused), '"Pausar captura" pauses: "Captura en pausa", the button "Reanudar captura"',
                 f"capture line {window.line(2)!r}, widgets {[w.name for w in window.items()]}")
    if paused:
        window.press("Reanudar captura")
        resumed = wait_for(lambda: window.line(2) == "Toca una nota o un acorde." and window.find("Pausar captura"), 3)
        report.check(bool(resumed), '"Reanudar captura" resumes: "Toca una nota o un acorde.", the button "Pausar captura"',
                     f"capture line {window.line(2)!r}")

    title = "Incluir título del esquema"
    for flip in ("flips", "flips back"):
        was = checked(window.find(title))
        window.press(title)
        report.check(wait_for(lambda: checked(window.find(title)) == (not was), 3),
              f'the check box "{title}" {flip} to {"not checked" if was else "checked"}',
              f"still {'checked' if was else 'not checked'}")


def check_quit(report, window, app):
    """A check that the window's "Salir" ends the application with status 0."""
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
