#!/bin/bash
# A GNOME Shell session (Mutter, Wayland, headless, with XWayland) for the clipboard checks, with
# a fresh home and XDG folders under DIR, its own session bus and a private system bus; runs
# COMMAND inside it with WAYLAND_DISPLAY, DISPLAY and XAUTHORITY set, and ends what it started.
# Prints "<TAG> FIGURE" with the start-up time and "<TAG> FAIL" when the shell does not start.
#
# Usage: gnome-session.sh TAG DIR COMMAND...
# Runs itself again inside dbus-run-session. With QUENLITOR_GNOME_UNSAFE=1 the shell runs in unsafe
# mode, where COMMAND may read its windows (org.gnome.Shell.Eval) and take screenshots.
set -u
tag=$1 dir=$2
shift 2
ms() { echo $(($(date +%s%N) / 1000000)); }
fail() {
  echo "$tag FAIL $*"
  echo "$tag DONE failed"
  [[ -s $dir/shell.log ]] && sed "s|^|$tag LOG shell: |" "$dir/shell.log" | tail -n 20
  exit 1
}
if [[ -z ${QUENLITOR_GNOME_BUS:-} ]]; then
  mkdir -p "$dir"/{home,config,data,runtime} /tmp/.X11-unix
  # XWayland refuses a folder for its socket that is not sticky.
  chmod 1777 /tmp/.X11-unix 2>/dev/null
  chmod 0700 "$dir/runtime"
  export HOME=$dir/home XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data XDG_RUNTIME_DIR=$dir/runtime
  export LANG=C.UTF-8 QUENLITOR_GNOME_BUS=1
  unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY DISPLAY XAUTHORITY XDG_SESSION_TYPE QT_QPA_PLATFORM
  exec dbus-run-session -- "$0" "$tag" "$dir" "$@"
fi

shell=
system_bus=
finish() {
  # gnome-shell 43 has been seen to crash on SIGTERM: its verdict is read before, its end ignored.
  [[ -n $shell ]] && kill -TERM "$shell" 2>/dev/null
  sleep 0.5
  [[ -n $shell ]] && kill -KILL "$shell" 2>/dev/null
  [[ -n $system_bus ]] && kill -TERM "$system_bus" 2>/dev/null
}
trap finish EXIT
# GNOME Shell wants a system bus; a private one serves.
DBUS_SYSTEM_BUS_ADDRESS=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=3 3>"$dir/system-bus.pid") ||
  fail "dbus-daemon did not start a system bus"
export DBUS_SYSTEM_BUS_ADDRESS
system_bus=$(cat "$dir/system-bus.pid")

started=$(ms)
gnome-shell --headless --wayland ${QUENLITOR_GNOME_UNSAFE:+--unsafe-mode} --virtual-monitor 1280x800 >"$dir/shell.log" 2>&1 &
shell=$!
for _ in $(seq 1200); do
  grep -q "GNOME Shell started" "$dir/shell.log" && break
  kill -0 "$shell" 2>/dev/null || fail "gnome-shell ended during start-up"
  sleep 0.1
done
grep -q "GNOME Shell started" "$dir/shell.log" || fail "GNOME Shell did not start within 120 s"
echo "$tag FIGURE $(gnome-shell --version) started after $(($(ms) - started)) ms"
DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$dir/shell.log" | head -n 1)
XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
[[ -n $DISPLAY && -n $XAUTHORITY ]] || fail "no XWayland display in the shell's log"
WAYLAND_DISPLAY=$(sed -n "s/.*Using Wayland display name '\([^']*\)'.*/\1/p" "$dir/shell.log" | head -n 1)
export DISPLAY XAUTHORITY WAYLAND_DISPLAY=${WAYLAND_DISPLAY:-wayland-0} XDG_SESSION_TYPE=wayland
"$@"
status=$?
[[ $status -ne 0 ]] && sed "s|^|$tag LOG shell: |" "$dir/shell.log" | tail -n 30
exit $status
