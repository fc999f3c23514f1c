"""Whether X11 clients get what the data-control binding copies, through the compositor's
XWayland bridge: COPIES texts copied through the binding (quenlitor-wayland-selection copy), 20 ms
apart, while an X11 window (xmessage) has the focus, as the editor has when the user pastes into
it, counting the Wayland selection's changes (quenlitor-wayland-selection watch) and the X11
CLIPBOARD's owner changes (XFixes); then xclip, an X11 client, and wl-paste read the last text.

    python3 -m desktop sway|kwin FOLDER bridge QUENLITOR-WAYLAND-SELECTION [COPIES]
"""

import os
import subprocess
import time

from .report import end
from .x11 import read_clipboard
from .xfixes import ClipboardWatcher

TAG = "BRIDGE-CHECK"


def checks(report, session, log, tool, copies="200"):
    copies = int(copies)
    started = [subprocess.Popen(["xmessage", "editor X11"], env=session.env, stdout=subprocess.DEVNULL, stderr=log)]
    try:
        time.sleep(1)
        # libxcb in this process reads the display and its authority from the environment.
        os.environ.update({name: session.env[name] for name in ("DISPLAY", "XAUTHORITY") if name in session.env})
        owners = ClipboardWatcher()
        owners.start()
        watch = subprocess.Popen([tool, "watch"], env=session.env, stdout=subprocess.PIPE, stderr=log, text=True)
        started.append(watch)
        ready = watch.stdout.readline().split()
        texts = [f'"C{index}" C4 .' for index in range(copies)]
        copy = subprocess.Popen([tool, "copy", "--interval", "20", "--serve", "5000", *texts], env=session.env,
                                stdout=subprocess.PIPE, stderr=log, text=True)
        started.append(copy)
        answers = [copy.stdout.readline().split()[1] for _ in texts]
        time.sleep(1)
        x11 = read_clipboard(session)
        wayland = session.run(["wl-paste", "--no-newline"], text=False).stdout.decode()
        watch.kill()
        changes = len(watch.stdout.read().splitlines())
        report.figure(f"{' '.join(ready[1:])}, {copies} copies with an X11 window focused: {answers.count('copied')} "
                      f"taken, {changes} Wayland selection changes, {owners.count()} X11 CLIPBOARD owner changes, "
                      f"xclip read {x11!r}, wl-paste read {wayland!r}")
        report.check(answers.count("copied") == copies and changes == copies and wayland == texts[-1],
                     f"{copies} copies through data-control each change the Wayland selection once")
        report.check(x11 == texts[-1] and owners.since(0) == copies,
                     "the compositor's bridge gives the X11 CLIPBOARD each copy while an X11 window has the focus",
                     f"{owners.since(0)} owner changes, xclip read {x11!r}")
    finally:
        for process in started:
            end(process, 1)
