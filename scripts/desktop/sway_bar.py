#!/usr/bin/python3
"""The application under sway 1.7 with swaybar's tray, clicked as a person clicks it.

    sway_bar.py APP [SCREENSHOT]

Run by wayland-session.sh (sway headless with XWayland, swaybar's StatusNotifierWatcher and host
are up; as an unprivileged user). The application runs on XWayland. Checks: the item registers
with swaybar's watcher; its icon is drawn in the bar (found in a grim
screenshot, kept at SCREENSHOT when given); a left and a right click on the icon, sent through a
virtual pointer (wlr-virtual-pointer, so that swaybar gets a real pointer click and calls Activate
or ContextMenu with the position it chooses), open the application's menu with a corner within
100 px of the icon, read from the X server; SIGTERM ends the application with status 0.
swaybar shows no dbusmenu menus: the click is the only way to the menu there.
"""

import os
import socket
import struct
import subprocess
import sys
import threading
import time

import dbus

import probes
from probes import TrayItem, check, check_menu_near, emit, end, wait_for

BAR_BACKGROUND = (0, 0, 0)
BUTTONS = {"left": 0x110, "right": 0x111}  # BTN_LEFT, BTN_RIGHT (linux/input-event-codes.h)


class VirtualPointer:
    """A pointer device of our own in the compositor (zwlr_virtual_pointer_v1), spoken in the
    Wayland wire format: enough to move to a point of the layout and click there."""

    def __init__(self):
        path = os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ["WAYLAND_DISPLAY"])
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.settimeout(5)
        self.socket.connect(path)
        self.next_id = 2
        self.buffer = b""
        registry = self.new_id()
        self.send(1, 1, struct.pack("<I", registry))  # wl_display.get_registry
        globals_ = {}
        for sender, opcode, body in self.roundtrip():
            if sender == registry and opcode == 0:  # wl_registry.global
                name, length = struct.unpack_from("<II", body)
                interface = body[8:8 + length - 1].decode()
                globals_[interface] = (name, struct.unpack_from("<I", body, 8 + (length + 3) // 4 * 4)[0])
        if "zwlr_virtual_pointer_manager_v1" not in globals_:
            raise RuntimeError("the compositor offers no zwlr_virtual_pointer_manager_v1")
        manager = self.bind(registry, globals_, "zwlr_virtual_pointer_manager_v1", 1)
        self.pointer = self.new_id()
        self.send(manager, 0, struct.pack("<II", 0, self.pointer))  # create_virtual_pointer(seat: default)
        self.roundtrip()

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, target, opcode, body=b""):
        self.socket.sendall(struct.pack("<II", target, (8 + len(body)) << 16 | opcode) + body)

    def bind(self, registry, globals_, interface, version):
        name, _ = globals_[interface]
        text = interface.encode() + b"\0"
        padded = text + b"\0" * (-len(text) % 4)
        bound = self.new_id()
        self.send(registry, 0, struct.pack("<II", name, len(text)) + padded + struct.pack("<II", version, bound))
        return bound

    def roundtrip(self):
        """The events up to the answer to a wl_display.sync; a protocol error raises."""
        callback = self.new_id()
        self.send(1, 0, struct.pack("<I", callback))
        events = []
        while True:
            while len(self.buffer) < 8 or len(self.buffer) < struct.unpack_from("<I", self.buffer, 4)[0] >> 16:
                data = self.socket.recv(65536)
                if not data:
                    raise RuntimeError("the compositor closed the connection")
                self.buffer += data
            sender, word = struct.unpack_from("<II", self.buffer)
            size = word >> 16
            body, self.buffer = self.buffer[8:size], self.buffer[size:]
            if sender == 1 and word & 0xffff == 0:  # wl_display.error
                raise RuntimeError(f"Wayland protocol error {struct.unpack_from('<II', body)}")
            if sender == callback:
                return events
            events.append((sender, word & 0xffff, body))

    def click(self, x, y, button, width, height):
        now = lambda: int(time.monotonic() * 1000) & 0xffffffff
        self.send(self.pointer, 1, struct.pack("<5I", now(), x, y, width, height))  # motion_absolute
        self.send(self.pointer, 4, struct.pack("<I", now()))  # frame
        self.roundtrip()
        time.sleep(0.2)
        for state in (1, 0):  # pressed, released
            self.send(self.pointer, 2, struct.pack("<3I", now(), button, state))
            self.send(self.pointer, 4, struct.pack("<I", now()))
            self.roundtrip()
            time.sleep(0.05)

    def close(self):
        self.socket.close()


def screen():
    """The screen as (width, height, rows of RGB bytes), from grim's PPM."""
    data = subprocess.run(["grim", "-t", "ppm", "-"], capture_output=True, timeout=20, check=True).stdout
    fields = data.split(maxsplit=4)
    width, height = int(fields[1]), int(fields[2])
    pixels = fields[4]
    return width, height, [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)]


def find_icon(width, height, rows):
    """The bounding box (x, y, w, h) of what is drawn at the right end of the bar at the top of the
    screen (the tray), or None: the bar is the top rows in the bar's colour in the middle."""
    background = bytes(BAR_BACKGROUND)
    middle = width // 2 * 3
    bar = 0
    while bar < height and rows[bar][middle:middle + 3] == background:
        bar += 1
    drawn = [(x, y) for y in range(bar) for x in range(width * 3 // 4, width)
             if rows[y][x * 3:x * 3 + 3] != background]
    if not bar or not drawn:
        return None
    xs, ys = [x for x, _ in drawn], [y for _, y in drawn]
    return min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1


class Calls:
    """The StatusNotifierItem methods swaybar calls on the item, with their arguments (dbus-monitor)."""

    def __init__(self):
        self.calls = []
        self.process = subprocess.Popen(
            ["dbus-monitor", "--session", "type='method_call',interface='org.kde.StatusNotifierItem'"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        ready = threading.Event()

        def read():
            for line in self.process.stdout:
                ready.set()
                if line.startswith("method call"):
                    self.calls.append([line.split("member=")[-1].strip()])
                elif line.startswith("   int32") and self.calls:
                    self.calls[-1].append(int(line.split()[1]))

        threading.Thread(target=read, daemon=True).start()
        ready.wait(5)

    def since(self, count):
        """The calls after the first count, as text."""
        return ", ".join(f"{call[0]}({', '.join(map(str, call[1:]))})" for call in self.calls[count:]) or "no call"


def checks(log, app_path, picture=""):
    bus = dbus.SessionBus()
    started = time.monotonic()
    app = subprocess.Popen([app_path], stdout=subprocess.DEVNULL, stderr=log)
    calls = Calls()
    pointer = None
    try:
        tray = TrayItem.of_process(bus, app.pid, 20)
        elapsed = time.monotonic() - started
        if not check(tray is not None, f"the item registers with swaybar's watcher after {elapsed:.1f} s", "not within 20 s"):
            return
        icon = wait_for(lambda: find_icon(*screen()), 5, 0.2)
        width, height, rows = screen()
        if picture:
            probes.write_png(picture, width, rows)
        if not check(icon is not None, f"swaybar draws the icon at {icon[0]},{icon[1]} {icon[2]}x{icon[3]}" if icon else
                     "swaybar draws the icon", "nothing drawn at the right end of the bar within 5 s"):
            return
        x, y = icon[0] + icon[2] // 2, icon[1] + icon[3] // 2
        try:
            pointer = VirtualPointer()
        except (OSError, RuntimeError) as error:
            check(False, "a virtual pointer to click with", str(error))
            return
        for name, button in BUTTONS.items():
            before = len(calls.calls)
            check_menu_near(lambda: pointer.click(x, y, button, width, height), x, y, f"a {name} click on the icon")
            emit("FIGURE", f"for the {name} click swaybar called {calls.since(before)}")

        status = end(app, 10)
        check(status == 0, "SIGTERM ends the application with status 0", f"status {status}")
    finally:
        if pointer:
            pointer.close()
        end(calls.process)
        if app.poll() is None:
            app.kill()
            app.wait()


if __name__ == "__main__":
    sys.exit(probes.run_checks("SWAYBAR", checks, __doc__, sys.argv[1:]))
