"""A Wayland client spoken in the wire format from Python: the compositor's globals, and a
virtual pointer (zwlr_virtual_pointer_v1) to click with where a headless compositor has none."""

import os
import socket
import struct
import time


class Connection:
    def __init__(self, env, timeout=5):
        path = os.path.join(env.get("XDG_RUNTIME_DIR", ""), env.get("WAYLAND_DISPLAY", "wayland-0"))
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.settimeout(timeout)
        self.socket.connect(path)
        self.next_id, self.buffer = 2, b""
        self.registry = self.new_id()
        self.send(1, 1, struct.pack("<I", self.registry))  # wl_display.get_registry
        self.globals = {}  # interface: (name, version)
        for sender, opcode, body in self.roundtrip():
            if sender == self.registry and opcode == 0:  # wl_registry.global
                name, length = struct.unpack_from("<II", body)
                self.globals[body[8:8 + length - 1].decode()] = (name, struct.unpack_from("<I", body, 8 + (length + 3) // 4 * 4)[0])

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    def send(self, target, opcode, body=b""):
        self.socket.sendall(struct.pack("<II", target, (8 + len(body)) << 16 | opcode) + body)

    def bind(self, interface, version):
        text = interface.encode() + b"\0"
        bound = self.new_id()
        self.send(self.registry, 0, struct.pack("<II", self.globals[interface][0], len(text)) + text +
                  b"\0" * (-len(text) % 4) + struct.pack("<II", version, bound))
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
            body, self.buffer = self.buffer[8:word >> 16], self.buffer[word >> 16:]
            if sender == 1 and word & 0xffff == 0:  # wl_display.error
                raise RuntimeError(f"Wayland protocol error {struct.unpack_from('<II', body)}")
            if sender == callback:
                return events
            events.append((sender, word & 0xffff, body))

    def close(self):
        self.socket.close()


class VirtualPointer(Connection):
    """Enough of a pointer to move to a point of the layout and click there."""

    def __init__(self, env):
        super().__init__(env)
        if "zwlr_virtual_pointer_manager_v1" not in self.globals:
            raise RuntimeError("the compositor offers no zwlr_virtual_pointer_manager_v1")
        manager = self.bind("zwlr_virtual_pointer_manager_v1", 1)
        self.pointer = self.new_id()
        self.send(manager, 0, struct.pack("<II", 0, self.pointer))  # create_virtual_pointer(seat: default)
        self.roundtrip()

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
