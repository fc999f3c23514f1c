#!/usr/bin/python3
"""A StatusNotifierWatcher that misbehaves as trays have been seen to, for tray-faults-test.sh.

    fake_watcher.py refuse|hang|accept|host

Owns org.kde.StatusNotifierWatcher at /StatusNotifierWatcher on the session bus and always says a
host is registered (IsStatusNotifierHostRegistered true), the case in which an application has
no reason of its own to give up on the tray. RegisterStatusNotifierItem is:
  refuse  answered with an error;
  hang    never answered;
  accept  accepted, and no host ever reads the item (a panel that crashed for good while its
          watcher stays, as kded does after plasmashell ended);
  host    accepted, and the item read at once as a host reads it (Properties.GetAll of
          org.kde.StatusNotifierItem on the item's name, at its path).
SIGUSR1 has every item registered so far read as a host reads it (a panel that comes back).
SIGTERM or SIGINT leaves the bus and ends the program.
Prints "ready" once it owns the name, then one line per event, starting with the
CLOCK_MONOTONIC time in seconds: "register NAME", "read NAME N" (N properties read), "unread
NAME ERROR".
"""

import signal
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MODES = ("refuse", "hang", "accept", "host")


def say(*words):
    print(f"{time.monotonic():.3f}", *words, flush=True)


class Watcher(dbus.service.Object):
    def __init__(self, bus, mode):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.mode = mode
        self.items = []  # (service, path)
        self.unanswered = []  # the replies a hanging watcher keeps, never sent
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")

    def owner_changed(self, name, old, new):
        if not new:
            self.items = [(service, path) for service, path in self.items if service not in (name, old)]

    @dbus.service.method(WATCHER, in_signature="s", out_signature="", sender_keyword="sender",
                         async_callbacks=("answer", "error"))
    def RegisterStatusNotifierItem(self, service, sender=None, answer=None, error=None):
        say("register", service)
        if self.mode == "refuse":
            error(dbus.exceptions.DBusException("this tray takes no items",
                                                name="org.freedesktop.DBus.Error.AccessDenied"))
            return
        if self.mode == "hang":
            self.unanswered.append(answer)
            return
        # A path alone names an object of the sender's connection.
        item = (sender, str(service)) if str(service).startswith("/") else (str(service), "/StatusNotifierItem")
        self.items.append(item)
        answer()
        self.StatusNotifierItemRegistered(f"{item[0]}{item[1]}")
        if self.mode == "host":
            self.read(*item)

    @dbus.service.method(WATCHER, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface != WATCHER:
            raise dbus.exceptions.DBusException(f"no interface {interface}",
                                                name="org.freedesktop.DBus.Error.UnknownInterface")
        return {
            "RegisteredStatusNotifierItems": dbus.Array([f"{s}{p}" for s, p in self.items], signature="s"),
            "IsStatusNotifierHostRegistered": True,
            "ProtocolVersion": dbus.Int32(0),
        }

    def read(self, service, path):
        """The item's properties, read without waiting, as a host reads them."""
        self.bus.get_object(service, path, introspect=False).GetAll(
            ITEM, dbus_interface=dbus.PROPERTIES_IFACE, timeout=5,
            reply_handler=lambda properties: say("read", service, len(properties)),
            error_handler=lambda failure: say("unread", service, failure.get_dbus_name()))

    def read_all(self):
        for item in list(self.items):
            self.read(*item)
        return True


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in MODES:
        print(__doc__, file=sys.stderr)
        return 2
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus, sys.argv[1])
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_HIGH, signal.SIGUSR1, watcher.read_all)
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_HIGH, number, loop.quit)
    name = dbus.service.BusName(WATCHER, bus, do_not_queue=True)
    print("ready", flush=True)
    loop.run()
    del name
    return 0


if __name__ == "__main__":
    sys.exit(main())
