#!/bin/bash
# A desktop session for the acceptance checks: an X server (Xvfb), a D-Bus session bus and
# Xfce's panel as the StatusNotifierItem host, with a fresh home and XDG folders under DIR; then
# runs desktop-check.py with the remaining arguments and ends everything it started, by process id.
# Prints "<TAG> FIGURE" lines with the start-up times and "<TAG> FAIL" when a part does not start.
#
# Usage: session.sh TAG DIR CHECK-ARGUMENTS...
# With QUENLITOR_TRAY_HOST=trayer the tray host is trayer (XEmbed) instead. When the first check
# argument names a program of this folder (xfce_panel.py), that program runs instead of
# desktop-check.py, with the remaining arguments.
# Used on the host by desktop-vm-test.sh for the tray host checks and, inside the virtual machine,
# by its init for the whole run.
set -u
tag=$1 dir=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=session-prelude.sh
. "$here/session-prelude.sh"

mkdir -p "$dir"/{home,config/xfce4/xfconf/xfce-perchannel-xml,data,runtime}
chmod 0700 "$dir/runtime"
cp "$here/xfce4-panel.xml" "$dir/config/xfce4/xfconf/xfce-perchannel-xml/"
export HOME=$dir/home XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data XDG_RUNTIME_DIR=$dir/runtime
export LANG=C.UTF-8 QUENLITOR_APP_ERR=$dir/application.log
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY XDG_SESSION_TYPE QT_QPA_PLATFORM

started=$(ms)
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
pids+=($!)
for _ in $(seq 600); do
  [[ -s $dir/display ]] && break
  sleep 0.1
done
[[ -s $dir/display ]] || fail "Xvfb did not start within 60 s"
export DISPLAY=:$(head -n 1 "$dir/display")
echo "$tag FIGURE Xvfb ready after $(($(ms) - started)) ms"

# The bus after the XDG folders, so that the services it starts (xfconfd) find the panel's settings.
address=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=3 3>"$dir/bus.pid" 2>"$dir/dbus.log") ||
  fail "dbus-daemon did not start a session bus"
export DBUS_SESSION_BUS_ADDRESS=$address DBUS_SESSION_BUS_PID=$(cat "$dir/bus.pid")

started=$(ms)
if [[ ${QUENLITOR_TRAY_HOST:-} == trayer ]]; then
  # The XEmbed tray: nothing on the bus, so the application exports no menu over D-Bus.
  trayer --edge top --align right --widthtype pixel --width 160 --height 24 >"$dir/panel.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 600); do
    xwininfo -root -tree 2>/dev/null | grep -q '"panel"' && break
    sleep 0.1
  done
  echo "$tag FIGURE trayer ready after $(($(ms) - started)) ms"
  /usr/bin/python3 "$here/desktop-check.py" "$@"
  exit $?
fi
xfce4-panel --disable-wm-check >"$dir/panel.log" 2>&1 &
pids+=($!)
wait_for_watcher xfce4-panel

check=desktop-check.py
[[ $1 == *.py ]] && { check=$1; shift; }
/usr/bin/python3 "$here/$check" "$@"
status=$?
if [[ $status -ne 0 && -s $dir/application.log ]]; then
  sed "s|^|$tag LOG application: |" "$dir/application.log" | tail -n 30
fi
exit $status
