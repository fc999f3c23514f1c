#!/usr/bin/env bash
# The data-control clipboard binding against a real compositor: sway (wlroots) headless, with
# XWayland, started here for the run; then DataControlClipboardTests under it (the readers are
# wl-clipboard's wl-paste and wl-copy), the compositor's bridge to X11 clients measured over 200
# copies (scripts/desktop/x11-bridge-check.py, with an X11 window focused), and last the test that
# ends the compositor under the binding; sway refuses to run as root: as root, the compositor and
# the tests run as the user `nobody` (uid 65534). Then the same under KWin (--virtual), but for the
# compositor's end. Then GNOME Shell (Mutter), which offers no
# data-control: a token from quenlitor-tokens written through the application's clipboard binding
# (quenlitor-clipboard-write) must reach Mutter's clipboard over the X11 CLIPBOARD
# (scripts/desktop/clipboard.py).
#
# Usage: scripts/wayland-clipboard-test.sh [BUILD_DIR]   (default build/dev)
# Needs sway, kwin-wayland, gnome-shell, xwayland, wl-clipboard, xclip, x11-utils, python3-dbus and
# libxcb-xfixes0 (scripts/bootstrap.sh --ci). Bounded: 120 s for each desktop.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/dev}" 2>/dev/null && pwd) || { echo "wayland-clipboard-test: no build directory ${1:-build/dev}" >&2; exit 2; }
tests=$build/bin/DataControlClipboardTests
selection_tool=$build/bin/quenlitor-wayland-selection
writer=$build/bin/quenlitor-clipboard-write
tokens=$build/bin/quenlitor-tokens
die() {
  echo "wayland-clipboard-test: $*" >&2
  exit 1
}
for tool in sway kwin_wayland gnome-shell wl-paste wl-copy xclip xmessage dbus-run-session timeout; do
  command -v "$tool" >/dev/null || die "$tool is missing; run scripts/bootstrap.sh --ci"
done
for program in "$tests" "$selection_tool" "$writer" "$tokens"; do
  [[ -x $program ]] || die "$program is not built (cmake --build $build)"
done

work=$(mktemp -d /tmp/quenlitor-wayland.XXXXXX)
chmod 755 "$work"
mkdir -p "$work/runtime" "$work/home"
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  chown 65534:65534 "$work/runtime" "$work/home"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all)
fi
chmod 700 "$work/runtime"
mkdir -p /tmp/.X11-unix 2>/dev/null && chmod 1777 /tmp/.X11-unix 2>/dev/null
cat >"$work/sway.config" <<EOF
xwayland enable
output HEADLESS-1 resolution 1280x800
exec sh -c 'echo "\$WAYLAND_DISPLAY \$DISPLAY" > $work/runtime/ready'
EOF
session_env=(env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=$work/home XDG_RUNTIME_DIR=$work/runtime LANG=C.UTF-8)
# In CI the tests fail where they would skip for want of what they need.
ci_env=(${CI:+CI=$CI})

compositor=
finish() {
  [[ -n $compositor ]] && kill -TERM "$compositor" 2>/dev/null
  sleep 0.2
  [[ -n $compositor ]] && kill -KILL "$compositor" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

start_compositor() {
  rm -f "$work/runtime/ready"
  "${as_user[@]}" "${session_env[@]}" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    timeout -k 5 120 sway --config "$work/sway.config" >"$work/sway.log" 2>&1 &
  compositor=$!
  disown "$compositor"
  local started=$(($(date +%s%N) / 1000000))
  for _ in $(seq 100); do
    [[ -s $work/runtime/ready ]] && break
    sleep 0.1
  done
  [[ -s $work/runtime/ready ]] || { tail -n 20 "$work/sway.log" >&2; die "sway did not start within 10 s"; }
  read -r wayland_display x_display <"$work/runtime/ready"
  echo "wayland-clipboard-test: $(sway --version) ready after $(($(date +%s%N) / 1000000 - started)) ms"
}

start_compositor
# The compositor's own process: `timeout` started it as its child.
sway_pid=$(pgrep -P "$compositor" -x sway)
status=0
"${as_user[@]}" "${session_env[@]}" "${ci_env[@]}" WAYLAND_DISPLAY="$wayland_display" \
  timeout -k 5 100 "$tests" --gtest_filter=-*CompositorGoingAway* || status=1
"${as_user[@]}" "${session_env[@]}" WAYLAND_DISPLAY="$wayland_display" DISPLAY="$x_display" \
  timeout -k 5 60 /usr/bin/python3 "$root/scripts/desktop/x11-bridge-check.py" --focus "$selection_tool" 200 || status=1
"${as_user[@]}" "${session_env[@]}" "${ci_env[@]}" WAYLAND_DISPLAY="$wayland_display" QUENLITOR_END_COMPOSITOR="$sway_pid" \
  timeout -k 5 20 "$tests" --gtest_filter=*CompositorGoingAway* || status=1

# KWin 5.27 (KDE Plasma), which offers data-control too: the same tests but the one that ends it,
# and the bridge. Run as whoever runs this, from a copy: the installed binary carries a file
# capability that a container may refuse.
kwin=$work/kwin
mkdir -p "$kwin/runtime" "$kwin/home"
chmod 700 "$kwin/runtime"
cp "$(command -v kwin_wayland)" "$kwin/kwin_wayland"
cat >"$kwin/ready.sh" <<READY
#!/bin/sh
echo "\$WAYLAND_DISPLAY \$DISPLAY \$XAUTHORITY" > $kwin/ready.tmp && mv $kwin/ready.tmp $kwin/ready
while [ ! -e $kwin/stop ]; do sleep 0.2; done
READY
chmod +x "$kwin/ready.sh"
kwin_env=(env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=$kwin/home XDG_RUNTIME_DIR=$kwin/runtime LANG=C.UTF-8)
started=$(($(date +%s%N) / 1000000))
"${kwin_env[@]}" XDG_SESSION_TYPE=wayland timeout -k 5 120 dbus-run-session -- "$kwin/kwin_wayland" --virtual \
  --xwayland --width 1280 --height 800 --no-lockscreen --socket quenlitor-kwin "$kwin/ready.sh" >"$kwin/kwin.log" 2>&1 &
kwin_session=$!
for _ in $(seq 100); do
  [[ -s $kwin/ready ]] && break
  sleep 0.1
done
if [[ -s $kwin/ready ]]; then
  read -r wayland_display x_display x_authority <"$kwin/ready"
  echo "wayland-clipboard-test: KWin $(dpkg-query -W -f='${Version}' kwin-wayland 2>/dev/null) ready after $(($(date +%s%N) / 1000000 - started)) ms"
  "${kwin_env[@]}" "${ci_env[@]}" WAYLAND_DISPLAY="$wayland_display" timeout -k 5 100 "$tests" --gtest_filter=-*CompositorGoingAway* ||
    status=1
  "${kwin_env[@]}" WAYLAND_DISPLAY="$wayland_display" DISPLAY="$x_display" XAUTHORITY="$x_authority" timeout -k 5 60 \
    /usr/bin/python3 "$root/scripts/desktop/x11-bridge-check.py" --focus "$selection_tool" 200 || status=1
else
  tail -n 20 "$kwin/kwin.log" >&2
  echo "wayland-clipboard-test: KWin did not start within 10 s" >&2
  status=1
fi
# KWin outlives the program it started: ended by its process id, the one running this run's copy.
touch "$kwin/stop"
for pid in $(pgrep -f "^$kwin/kwin_wayland"); do
  kill -TERM "$pid"
done
wait "$kwin_session" 2>/dev/null

# GNOME Shell runs as whoever runs this.
PYTHONPATH=$root/scripts timeout -k 5 120 /usr/bin/python3 -m desktop gnome "$work/gnome" clipboard \
  "$tokens" "$writer" "$selection_tool" >"$work/gnome.log" 2>&1
grep -E '^GNOME-CHECK' "$work/gnome.log"
grep -q '^GNOME-CHECK DONE ok' "$work/gnome.log" || status=1
[[ $status -eq 0 ]] && echo "wayland-clipboard-test: all checks passed" || echo "wayland-clipboard-test: FAILED" >&2
exit $status
