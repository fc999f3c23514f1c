"""The X11 CLIPBOARD's owner changes, timed as they happen (XFixes, through libxcb)."""

import ctypes
import time

from .report import Timeline


class ClipboardWatcher(Timeline):
    """Notes the time of every change of the CLIPBOARD selection's owner (XFixes).

    The events are read with libxcb through ctypes: the thread waits in C, as the thread reading
    listen's lines does, and takes the time as soon as an event arrives, not after a protocol
    library written in Python has decoded it (which, under emulation, added milliseconds to the
    application's latency and none to listen's)."""

    SET_SELECTION_OWNER_MASK = 1

    def __init__(self):
        super().__init__()
        xcb = self.xcb = ctypes.CDLL("libxcb.so.1")
        xfixes = ctypes.CDLL("libxcb-xfixes.so.0")
        self.free = ctypes.CDLL(None).free
        pointer, uint32 = ctypes.c_void_p, ctypes.c_uint32

        class Cookie(ctypes.Structure):
            _fields_ = [("sequence", ctypes.c_uint)]

        class ScreenIterator(ctypes.Structure):
            _fields_ = [("data", ctypes.POINTER(uint32)), ("rem", ctypes.c_int), ("index", ctypes.c_int)]

        for library, name, result, arguments in (
                (xcb, "xcb_connect", pointer, [ctypes.c_char_p, ctypes.POINTER(ctypes.c_int)]),
                (xcb, "xcb_connection_has_error", ctypes.c_int, [pointer]),
                (xcb, "xcb_get_setup", pointer, [pointer]),
                (xcb, "xcb_setup_roots_iterator", ScreenIterator, [pointer]),
                (xcb, "xcb_intern_atom", Cookie, [pointer, ctypes.c_uint8, ctypes.c_uint16, ctypes.c_char_p]),
                (xcb, "xcb_intern_atom_reply", ctypes.POINTER(uint32), [pointer, Cookie, pointer]),
                (xcb, "xcb_get_extension_data", ctypes.POINTER(ctypes.c_uint8), [pointer, pointer]),
                (xcb, "xcb_flush", ctypes.c_int, [pointer]),
                (xcb, "xcb_wait_for_event", ctypes.POINTER(uint32), [pointer]),
                (xfixes, "xcb_xfixes_query_version", Cookie, [pointer, uint32, uint32]),
                (xfixes, "xcb_xfixes_query_version_reply", pointer, [pointer, Cookie, pointer]),
                (xfixes, "xcb_xfixes_select_selection_input", Cookie, [pointer, uint32, uint32, uint32])):
            function = getattr(library, name)
            function.restype, function.argtypes = result, arguments
        self.free.argtypes = [pointer]

        self.connection = xcb.xcb_connect(None, None)
        if not self.connection or xcb.xcb_connection_has_error(self.connection):
            raise RuntimeError("cannot connect to the X server")
        extension = xcb.xcb_get_extension_data(self.connection,
                                               ctypes.addressof(ctypes.c_char.in_dll(xfixes, "xcb_xfixes_id")))
        if not extension or not extension[8]:  # xcb_query_extension_reply_t.present
            raise RuntimeError("the X server has no XFIXES extension")
        self.notify_type = extension[10]  # first_event: XCB_XFIXES_SELECTION_NOTIFY is its first
        self.free(xfixes.xcb_xfixes_query_version_reply(
            self.connection, xfixes.xcb_xfixes_query_version(self.connection, 5, 0), None))
        reply = xcb.xcb_intern_atom_reply(self.connection, xcb.xcb_intern_atom(self.connection, 0, 9, b"CLIPBOARD"), None)
        clipboard = reply[2]  # xcb_intern_atom_reply_t.atom
        self.free(reply)
        root = xcb.xcb_setup_roots_iterator(xcb.xcb_get_setup(self.connection)).data[0]  # xcb_screen_t.root
        xfixes.xcb_xfixes_select_selection_input(self.connection, root, clipboard, self.SET_SELECTION_OWNER_MASK)
        xcb.xcb_flush(self.connection)

    def run(self):
        while True:
            event = self.xcb.xcb_wait_for_event(self.connection)
            now = time.monotonic()
            if not event:
                return
            # xcb_xfixes_selection_notify_event_t: response_type, subtype, sequence; window; owner
            if event[0] & 0x7F == self.notify_type:
                self.add(event[2], now)
            self.free(event)
