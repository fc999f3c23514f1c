#!/usr/bin/env bash
# The installed application against trays that misbehave, under Xvfb with no XEmbed tray: when its
# window shows, and SIGTERM throughout (scripts/desktop/faults.py, with the fake
# StatusNotifierWatcher scripts/desktop/fake_watcher.py). One PASS/FAIL line per check.
#
# Usage: scripts/tray-faults-test.sh BUILD_DIR   (needs the packages of scripts/bootstrap.sh --ci)
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
