#!/usr/bin/python3
"""A StatusNotifierWatcher that misbehaves as trays have been seen to, for faults.py.

    python3 -m desktop.fake_watcher refuse|hang|accept|host

It owns the watcher's name, always says a host is registered, and answers RegisterStatusNotifierItem
with an error (refuse), never (hang), or accepts the item that no host then reads (accept, a panel
that crashed while its watcher stays) or that it reads at once as a host does (host: GetAll of its
properties). SIGUSR1 reads every item registered so far (a panel back); SIGTERM ends it. Prints
"ready", then "TIME register|read|unread NAME ..." lines (CLOCK_MONOTONIC seconds)."""

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
