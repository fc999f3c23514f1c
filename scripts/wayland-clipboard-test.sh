#!/usr/bin/env bash
# The data-control clipboard binding against real compositors, each in a session of the desktop
# harness (python3 -m desktop): under sway (as the user nobody when run as root) and KWin,
# DataControlClipboardTests and the bridge to X11 clients over 200 copies (bridge.py); under
# GNOME Shell, which offers no data-control, a token written through the binding read back from
# Mutter's clipboard (clipboard.py).
#
# Usage: scripts/wayland-clipboard-test.sh [BUILD_DIR]   (default build/dev; the packages of
# scripts/bootstrap.sh --ci). Each session bounded (30 to 120 s).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/dev}" 2>/dev/null && pwd) || { echo "wayland-clipboard-test: no build directory ${1:-build/dev}" >&2; exit 2; }
tests=$build/bin/DataControlClipboardTests
selection_tool=$build/bin/quenlitor-wayland-selection
writer=$build/bin/quenlitor-clipboard-write
tokens=$build/bin/quenlitor-tokens
for tool in sway kwin_wayland gnome-shell wl-paste wl-copy xclip xmessage timeout; do
  command -v "$tool" >/dev/null || { echo "wayland-clipboard-test: $tool is missing; run scripts/bootstrap.sh --ci" >&2; exit 1; }
done
for program in "$tests" "$selection_tool" "$writer" "$tokens"; do
  [[ -x $program ]] || { echo "wayland-clipboard-test: $program is not built (cmake --build $build)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quenlitor-wayland.XXXXXX)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
# sway refuses to run as root: as root, its sessions run as the user nobody (uid 65534).
as_user=()
if ((EUID == 0)); then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all)
  mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
fi
export PYTHONPATH=$root/scripts
# In CI the tests fail where they would skip for want of what they need.
ci_env=(env ${CI:+CI=$CI})
status=0
# in_session NAME SECONDS [USER...] -- DESKTOP COMMAND...: COMMAND in a session of its own.
in_session() {
  local name=$1 seconds=$2 user=()
  shift 2
  while [[ $1 != -- ]]; do user+=("$1"); shift; done
  shift
  local desktop=$1
  shift
  mkdir -p "$work/$name"
  ((${#user[@]} == 0)) || chown 65534:65534 "$work/$name"
  timeout -k 5 "$seconds" "${user[@]}" /usr/bin/python3 -m desktop "$desktop" "$work/$name/session" "$@" \
    >"$work/$name.log" 2>&1 || { status=1; grep -v '^\[ *OK' "$work/$name.log" | tail -n 40; return; }
  grep -E '^([A-Z-]+ (PASS|FAIL|FIGURE)|data-control protocol|FIGURE|\[  (PASSED|SKIPPED))' "$work/$name.log"
}
in_session sway-tests 100 "${as_user[@]}" -- sway -- "${ci_env[@]}" "$tests"
in_session sway-bridge 60 "${as_user[@]}" -- sway bridge "$selection_tool" 200
# KWin, which offers data-control too: the same.
in_session kwin-tests 100 -- kwin -- "${ci_env[@]}" "$tests"
in_session kwin-bridge 60 -- kwin bridge "$selection_tool" 200
in_session gnome 120 -- gnome clipboard "$tokens" "$writer" "$selection_tool"
[[ $status -eq 0 ]] && echo "wayland-clipboard-test: all checks passed" || echo "wayland-clipboard-test: FAILED" >&2
exit $status
