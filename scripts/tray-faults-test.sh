#!/usr/bin/env bash
# The installed application against trays that misbehave (scripts/desktop/faults.py, with
# the fake StatusNotifierWatcher scripts/desktop/fake_watcher.py), under Xvfb with no XEmbed tray,
# each case on a session bus of its own, timing when the window "Quenlitor MIDI a Texto" shows:
# - no tray: started by a person, within 1 s; with --autostart (the session's start, which waits
#   for a panel that starts after the application), 4.5 to 7 s;
# - a watcher that refuses the item (with and without --autostart), one that never answers, one
#   that accepts and has no host read the item: within 3 s; a host that reads the item then
#   takes it back into the tray, the window gone within 1 s;
# - a watcher whose host reads the item: no window until 3.5 s; the watcher leaves the bus, the
#   window 4.5 to 7 s later;
# and SIGTERM in each (1 s after the start while the registration hangs or a wait runs, with the
# window shown, in the tray): status 0 within 2 s. One PASS/FAIL line per check, FIGURE lines with
# the times; a missing tool is a FAIL. Everything started is ended by process id.
#
# Usage: scripts/tray-faults-test.sh BUILD_DIR
# Needs: xvfb dbus xdotool python3-dbus python3-gi (scripts/bootstrap.sh --ci installs them).
set -uo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || { echo "tray-faults-test: no build directory $1" >&2; exit 2; }

for tool in Xvfb dbus-daemon xdotool cmake timeout /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "FAIL $tool is missing; run scripts/bootstrap.sh --ci"; exit 1; }
done
/usr/bin/python3 -c 'import dbus, dbus.mainloop.glib; from gi.repository import GLib' 2>/dev/null ||
  { echo "FAIL python3-dbus or python3-gi is missing; run scripts/bootstrap.sh --ci"; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tray-faults.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1 ||
  { cat "$tmp/install.log"; echo "FAIL cmake --install $build"; exit 1; }

started=$SECONDS
PYTHONPATH=$root/scripts timeout -k 5 150 /usr/bin/python3 -m desktop x11 "$tmp/session" faults "$tmp/prefix/bin/quenlitor-midi-texto"
status=$?
((status == 124)) && echo "FAIL the checks did not finish within 150 s"
echo "FIGURE the checks took $((SECONDS - started)) s"
if ((status != 0)); then
  echo "tray-faults-test: some checks failed"
  exit 1
fi
echo "tray-faults-test: all checks passed"
