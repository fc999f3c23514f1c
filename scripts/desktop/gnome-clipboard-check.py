#!/usr/bin/env python3
"""The clipboard on GNOME Shell (Mutter), which offers no data-control: the application's binding
must fall back to the X11 CLIPBOARD, and Mutter must take that, from a client without a focused
window, as the desktop's clipboard for Wayland applications. The token comes from
`quenlitor-tokens`, is written by quenlitor-clipboard-write (the application's clipboard binding,
windowless), and is read back as Wayland applications get it, through Mutter's own clipboard
(org.gnome.Mutter.RemoteDesktop: a session with EnableClipboard and SelectionRead; a headless
seat has no keyboard, so wl-paste cannot read it), and by xclip as an X11 client.

Usage: gnome-clipboard-check.py QUENLITOR-TOKENS QUENLITOR-CLIPBOARD-WRITE QUENLITOR-WAYLAND-SELECTION
Needs WAYLAND_DISPLAY, DISPLAY (and XAUTHORITY) of a running GNOME Shell and its session bus.
Prints "GNOME-CHECK PASS|FAIL|FIGURE" lines and "GNOME-CHECK DONE ok|failed" last.
"""

import os
import subprocess
import sys
import time

import probes

dc = probes.desktop_check("GNOME-CHECK")
check, emit, dbus = dc.check, dc.emit, dc.dbus

REMOTE_DESKTOP = "org.gnome.Mutter.RemoteDesktop"


def mutter_clipboard(session, mime_type="text/plain;charset=utf-8"):
    """The text of Mutter's clipboard, as the compositor serves it to Wayland clients."""
    fd = session.SelectionRead(mime_type).take()
    chunks = []
    try:
        os.set_blocking(fd, True)
        while True:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            chunks.append(chunk)
    finally:
        os.close(fd)
    return b"".join(chunks).decode("utf-8", "replace")


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    tokens, writer, selection_tool = sys.argv[1:]
    try:
        # The tool's status 2 also means a compositor it could not reach, or words it did not take:
        # the compositor is asked for its globals here, and the tool's reason read.
        try:
            offered = probes.wayland_globals()
        except (OSError, RuntimeError) as error:
            offered = None
            check(False, "GNOME Shell's Wayland compositor answers", f"{type(error).__name__}: {error}")
        if offered is not None:
            control = sorted(name for name in offered if name.endswith("data_control_manager_v1"))
            check("wl_seat" in offered and not control,
                  f"Mutter answers with {len(offered)} globals, a seat and no data-control among them",
                  f"data-control: {control}" if control else f"no wl_seat among {sorted(offered)}")
        probe = subprocess.run([selection_tool, "watch"], capture_output=True, text=True, timeout=10)
        check(probe.returncode == 2 and "no Wayland compositor with data-control" in probe.stderr,
              "the binding finds no data-control there, so it keeps the X11 CLIPBOARD",
              f"the data-control watcher ended with status {probe.returncode}: {probe.stderr.strip()!r}")

        bus = dbus.SessionBus()
        remote = bus.get_object(REMOTE_DESKTOP, "/org/gnome/Mutter/RemoteDesktop")
        path = remote.CreateSession(dbus_interface=REMOTE_DESKTOP)
        session = dbus.Interface(bus.get_object(REMOTE_DESKTOP, path), REMOTE_DESKTOP + ".Session")
        session.Start()
        session.EnableClipboard(dbus.Dictionary({}, signature="sv"))

        for notes in (["60", "64", "67", "71"], ["62", "65", "69"]):
            token = subprocess.run([tokens, "token", *notes], capture_output=True, text=True,
                                   timeout=30).stdout.rstrip("\n")
            write = subprocess.Popen([writer, token, "5"], stdout=subprocess.PIPE, text=True)
            dc.STARTED.append(write)
            answer = write.stdout.readline().strip()
            check(answer == "copied", f"the binding reports {token} copied", f"it said {answer!r}")
            time.sleep(0.5)
            got = mutter_clipboard(session)
            check(got == token, f"Mutter's clipboard, which Wayland applications paste from, holds {token}",
                  f"got {got!r}")
            got = dc.read_clipboard()
            check(got == token, f"xclip, an X11 client, reads {token}", f"got {got!r}")
            write.wait(20)
        # Mutter keeps the text once its X11 owner has gone.
        got = mutter_clipboard(session)
        check(got == token, "Mutter keeps the text after the writer exits", f"got {got!r}")
        session.Stop()
    except Exception as error:  # a check that cannot go on is one failure, not a hang
        check(False, "the checks ran to the end", f"{type(error).__name__}: {error}")
    finally:
        status = dc.finish()
    return status


if __name__ == "__main__":
    sys.exit(main())
