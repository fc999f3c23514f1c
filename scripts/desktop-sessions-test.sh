#!/usr/bin/env bash
# The installed application on the desktops people run, each started headless from Debian's
# packages with a fresh home, one PASS/FAIL line per check (scripts/desktop/):
# - Xfce's panel (session.sh, xfce_panel.py): the panel killed and started again, then killed for
#   good (the window after 5 to 7 s, a second start focusing it), then back;
# - GNOME Shell 43 (gnome-session.sh, gnome_shell.py): stock, SIGTERM during the wait and the
#   window within 6 s with its screenshot, a second start focusing it; then the AppIndicator
#   extension switched on while it runs, the menu over dbusmenu and its commands.
# Each session is bounded in time; a missing tool is one FAIL line naming it.
#
# Usage: scripts/desktop-sessions-test.sh [--screenshot FILE] [BUILD_DIR]   (BUILD_DIR: build/dev)
#   --screenshot FILE  keeps the picture of the window under GNOME Shell (a PNG)
# Needs: xvfb dbus xfce4-panel xdotool x11-utils python3-dbus gnome-shell
# gnome-shell-extension-appindicator xwayland (scripts/bootstrap.sh --ci installs them).
set -uo pipefail
screenshot=
if [[ ${1:-} == --screenshot ]]; then
  screenshot=$(realpath -m "${2:?--screenshot needs a file}")
  shift 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/dev}" 2>/dev/null && pwd) || { echo "desktop-sessions-test: no build directory ${1:-build/dev}" >&2; exit 2; }
work=$build/desktop-sessions
rm -rf "$work"
mkdir -p "$work"
cmake --build "$build" --target quenlitor-midi-texto >/dev/null || { echo "FAIL could not build quenlitor-midi-texto"; exit 1; }
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || { echo "FAIL cmake --install: $work/install.log"; exit 1; }
app=$work/prefix/bin/quenlitor-midi-texto

failed=0
run() {
  local name=$1 seconds=$2
  shift 2
  local started=$SECONDS
  timeout -k 5 "$seconds" "$@" >"$work/$name.log" 2>&1
  local status=$?
  grep -E '^[A-Z-]+ (PASS|FAIL|FIGURE|LOG)' "$work/$name.log"
  ((status == 124)) && echo "FAIL $name did not finish within $seconds s"
  ((status == 0)) || failed=1
  echo "FIGURE $name took $((SECONDS - started)) s"
}

# One FAIL line per missing tool, naming it.
missing() {
  local tag=$1 tool
  shift
  for tool in "$@"; do
    if [[ $tool == */* ]]; then
      [[ -e $tool ]] && continue
    else
      command -v "$tool" >/dev/null && continue
    fi
    echo "$tag FAIL $tool is missing; run scripts/bootstrap.sh --ci"
    failed=1
    return 0
  done
  return 1
}

missing XFCE-PANEL Xvfb dbus-daemon gdbus xfce4-panel xdotool xwininfo /usr/bin/python3 ||
  run xfce4-panel 150 "$root/scripts/desktop/session.sh" XFCE-PANEL "$work/xfce" xfce_panel.py "$app"
missing GNOME-SHELL gnome-shell Xwayland dbus-run-session gsettings \
  /usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com ||
  QUENLITOR_GNOME_UNSAFE=1 QUENLITOR_APP_ERR=$work/gnome-application.log run gnome-shell 180 \
    "$root/scripts/desktop/gnome-session.sh" GNOME-SHELL "$work/gnome" \
    /usr/bin/python3 "$root/scripts/desktop/gnome_shell.py" "$app" "${screenshot:-$work/ventana-gnome.png}"

if ((failed)); then
  echo "desktop-sessions-test: some checks failed (logs in $work)"
  exit 1
fi
echo "desktop-sessions-test: all checks passed"
