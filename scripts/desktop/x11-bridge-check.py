#!/usr/bin/env python3
"""Whether X11 clients get what the data-control binding copies, through the compositor's
XWayland bridge: COPIES texts copied through the binding (quenlitor-wayland-selection copy), 20 ms
apart, counting the Wayland selection's changes (quenlitor-wayland-selection watch) and the X11
CLIPBOARD's owner changes (XFixes); then xclip, an X11 client, and wl-paste read the last text.
With --focus an X11 window (xmessage) has the focus, as the editor has when the user pastes into
it; without, none has.

Usage: x11-bridge-check.py [--focus] QUENLITOR-WAYLAND-SELECTION [COPIES]
Needs WAYLAND_DISPLAY and DISPLAY (the compositor's XWayland). Prints "BRIDGE-CHECK PASS|FAIL|FIGURE"
lines and "BRIDGE-CHECK DONE ok|failed" last.
"""

import os
import subprocess
import sys
import time

import probes

dc = probes.desktop_check("BRIDGE-CHECK")
check, emit = dc.check, dc.emit


def main():
    arguments = sys.argv[1:]
    focus = "--focus" in arguments
    arguments = [argument for argument in arguments if argument != "--focus"]
    if not arguments:
        print(__doc__, file=sys.stderr)
        return 2
    tool, copies = arguments[0], int(arguments[1]) if len(arguments) > 1 else 200
    try:
        if focus:
            editor = subprocess.Popen(["xmessage", "editor X11"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            dc.STARTED.append(editor)
            time.sleep(1)
        owners = dc.ClipboardWatcher()
        owners.start()
        watch = subprocess.Popen([tool, "watch"], stdout=subprocess.PIPE, text=True)
        dc.STARTED.append(watch)
        ready = watch.stdout.readline().split()
        texts = [f'"C{index}" C4 .' for index in range(copies)]
        copy = subprocess.Popen([tool, "copy", "--interval", "20", "--serve", "5000", *texts], stdout=subprocess.PIPE,
                                text=True)
        dc.STARTED.append(copy)
        answers = [copy.stdout.readline().split()[1] for _ in texts]
        time.sleep(1)
        x11 = dc.read_clipboard()
        wayland = subprocess.run(["timeout", "10", "wl-paste", "--no-newline"], capture_output=True).stdout.decode()
        watch.kill()
        changes = len(watch.stdout.read().splitlines())
        where = "with an X11 window focused" if focus else "with no X11 window focused"
        emit("FIGURE", f"{' '.join(ready[1:])}, {copies} copies {where}: {answers.count('copied')} taken, "
                       f"{changes} Wayland selection changes, {owners.count()} X11 CLIPBOARD owner changes, "
                       f"xclip read {x11!r}, wl-paste read {wayland!r}")
        check(answers.count("copied") == copies and changes == copies and wayland == texts[-1],
              f"{copies} copies through data-control each change the Wayland selection once")
        if focus:
            check(x11 == texts[-1] and owners.owned_since(0) == copies,
                  "the compositor's bridge gives the X11 CLIPBOARD each copy while an X11 window has the focus",
                  f"{owners.owned_since(0)} owner changes, xclip read {x11!r}")
    finally:
        status = dc.finish()
    return status


if __name__ == "__main__":
    sys.exit(main())
