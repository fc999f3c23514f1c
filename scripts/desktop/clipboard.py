"""The clipboard on GNOME Shell (Mutter), which offers no data-control: the application's binding
must fall back to the X11 CLIPBOARD, and Mutter must take that, from a client without a focused
window, as the desktop's clipboard for Wayland applications. The token comes from
quenlitor-tokens, is written by quenlitor-clipboard-write (the application's clipboard binding,
windowless), and is read back as Wayland applications get it, through Mutter's own clipboard
(org.gnome.Mutter.RemoteDesktop: a session with EnableClipboard and SelectionRead; a headless
seat has no keyboard, so wl-paste cannot read it), and by xclip as an X11 client.

    python3 -m desktop gnome FOLDER clipboard QUENLITOR-TOKENS QUENLITOR-CLIPBOARD-WRITE QUENLITOR-WAYLAND-SELECTION
"""

import os
import subprocess
import time

import dbus

from .report import end
from .wayland import Connection
from .x11 import read_clipboard

TAG = "GNOME-CHECK"
REMOTE_DESKTOP = "org.gnome.Mutter.RemoteDesktop"


def mutter_clipboard(remote, mime_type="text/plain;charset=utf-8"):
    """The text of Mutter's clipboard, as the compositor serves it to Wayland clients, or None."""
    try:
        fd = remote.SelectionRead(mime_type).take()
    except dbus.DBusException as error:  # "No selection owner available"
        print(f"{TAG} LOG SelectionRead: {error.get_dbus_message()}", flush=True)
        return None
    with os.fdopen(fd, "rb") as pipe:
        os.set_blocking(pipe.fileno(), True)
        return pipe.read().decode("utf-8", "replace")


def checks(report, session, log, tokens, writer, selection_tool):
    # The tool's status 2 also means a compositor it could not reach, or words it did not take:
    # the compositor is asked for its globals here, and the tool's reason read.
    offered = Connection(session.env)
    offered.close()
    control = sorted(name for name in offered.globals if name.endswith("data_control_manager_v1"))
    report.check("wl_seat" in offered.globals and not control,
                 f"Mutter answers with {len(offered.globals)} globals, a seat and no data-control among them",
                 f"data-control: {control}" if control else f"no wl_seat among {sorted(offered.globals)}")
    probe = session.run([selection_tool, "watch"])
    report.check(probe.returncode == 2 and "no Wayland compositor with data-control" in probe.stderr,
                 "the binding finds no data-control there, so it keeps the X11 CLIPBOARD",
                 f"the data-control watcher ended with status {probe.returncode}: {probe.stderr.strip()!r}")

    path = session.bus.get_object(REMOTE_DESKTOP, "/org/gnome/Mutter/RemoteDesktop").CreateSession(
        dbus_interface=REMOTE_DESKTOP)
    remote = dbus.Interface(session.bus.get_object(REMOTE_DESKTOP, path), REMOTE_DESKTOP + ".Session")
    remote.Start()
    remote.EnableClipboard(dbus.Dictionary({}, signature="sv"))
    for notes in (["60", "64", "67", "71"], ["62", "65", "69"]):
        token = session.run([tokens, "token", *notes], timeout=30).stdout.rstrip("\n")
        write = subprocess.Popen([writer, token, "5"], env=session.env, stdout=subprocess.PIPE, stderr=log, text=True)
        try:
            answer = write.stdout.readline().strip()
            report.check(answer == "copied", f"the binding reports {token} copied", f"it said {answer!r}")
            time.sleep(0.5)
            got = mutter_clipboard(remote)
            report.check(got == token, f"Mutter's clipboard, which Wayland applications paste from, holds {token}",
                         f"got {got!r}")
            got = read_clipboard(session)
            report.check(got == token, f"xclip, an X11 client, reads {token}", f"got {got!r}")
            write.wait(20)
        finally:
            end(write, 1)
    # Mutter keeps the text once its X11 owner has gone.
    got = mutter_clipboard(remote)
    report.check(got == token, "Mutter keeps the text after the writer exits", f"got {got!r}")
    remote.Stop()
