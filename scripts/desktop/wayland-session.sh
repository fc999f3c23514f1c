#!/bin/bash
# A Wayland desktop session for the acceptance checks: a D-Bus session bus and sway (wlroots,
# headless, with XWayland and swaybar as the StatusNotifierItem host), with a fresh home and XDG
# folders under DIR; then runs wayland-check.py with the remaining arguments and ends everything
# it started, by process id. Prints "<TAG> FIGURE" lines with the start-up times and "<TAG> FAIL"
# when a part does not start. sway refuses to run as root: run this as an unprivileged user.
#
# Usage: wayland-session.sh TAG DIR CHECK-ARGUMENTS...
# When the first check argument names a program of this folder (sway_bar.py), that program runs
# instead of wayland-check.py, with the remaining arguments.
# Used inside the virtual machine of desktop-vm-test.sh, after the X11 session, and by
# desktop-sessions-test.sh for swaybar's tray.
set -u
tag=$1 dir=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=session-prelude.sh
. "$here/session-prelude.sh"
[[ $(id -u) -ne 0 ]] || fail "sway does not run as root; start this session as an unprivileged user"

mkdir -p "$dir"/{home,config,data,runtime}
chmod 0700 "$dir/runtime"
export HOME=$dir/home XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data XDG_RUNTIME_DIR=$dir/runtime
export LANG=C.UTF-8 QUENLITOR_APP_ERR=$dir/application.log
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY DISPLAY XDG_SESSION_TYPE QT_QPA_PLATFORM

address=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=3 3>"$dir/bus.pid" 2>"$dir/dbus.log") ||
  fail "dbus-daemon did not start a session bus"
export DBUS_SESSION_BUS_ADDRESS=$address DBUS_SESSION_BUS_PID=$(cat "$dir/bus.pid")

cat >"$dir/sway.config" <<EOF
xwayland enable
output HEADLESS-1 resolution 1280x800
bar {
  position top
  tray_output *
}
exec sh -c 'echo "\$WAYLAND_DISPLAY \$DISPLAY" > $dir/ready.tmp && mv $dir/ready.tmp $dir/ready'
EOF
started=$(ms)
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway --config "$dir/sway.config" >"$dir/sway.log" 2>&1 &
pids+=($!)
for _ in $(seq 1200); do
  [[ -s $dir/ready ]] && break
  sleep 0.1
done
[[ -s $dir/ready ]] || fail "sway did not start within 120 s"
read -r WAYLAND_DISPLAY DISPLAY <"$dir/ready"
export WAYLAND_DISPLAY DISPLAY XDG_SESSION_TYPE=wayland
echo "$tag FIGURE $(sway --version) ready after $(($(ms) - started)) ms"

# swaybar is the tray: its StatusNotifierWatcher on the session bus.
wait_for_watcher swaybar

check=wayland-check.py
[[ ${1:-} == *.py ]] && { check=$1; shift; }
/usr/bin/python3 "$here/$check" "$@"
status=$?
if [[ $status -ne 0 && -s $dir/application.log ]]; then
  sed "s|^|$tag LOG application: |" "$dir/application.log" | tail -n 30
fi
exit $status
