#!/usr/bin/env bash
# The installed application against trays that misbehave (scripts/desktop/tray_faults.py, with
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
xvfb_pid=
cleanup() {
  [[ -n $xvfb_pid ]] && kill -TERM "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cmake --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1 ||
  { cat "$tmp/install.log"; echo "FAIL cmake --install $build"; exit 1; }

# -noreset: the server would reset each time its last client leaves, between the cases.
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s $tmp/display ]] && break
  sleep 0.05
done
[[ -s $tmp/display ]] || { cat "$tmp/xvfb.log"; echo "FAIL Xvfb did not start"; exit 1; }

mkdir -p "$tmp"/{home,config,data,runtime,work}
chmod 0700 "$tmp/runtime"
started=$SECONDS
env -i PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY=":$(head -n 1 "$tmp/display")" HOME="$tmp/home" \
  XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp/runtime" \
  XDG_DATA_DIRS="$tmp/prefix/share" TMPDIR="$tmp/work" QUENLITOR_APP_ERR="$tmp/application.log" \
  timeout -k 5 150 /usr/bin/python3 "$root/scripts/desktop/tray_faults.py" "$tmp/prefix/bin/quenlitor-midi-texto"
status=$?
((status == 124)) && echo "FAIL the checks did not finish within 150 s"
echo "FIGURE the checks took $((SECONDS - started)) s"
if ((status != 0)); then
  [[ -s $tmp/application.log ]] && sed 's/^/LOG application: /' "$tmp/application.log" | tail -n 30
  echo "tray-faults-test: some checks failed"
  exit 1
fi
echo "tray-faults-test: all checks passed"
