#!/bin/bash
# A KDE Plasma 5.27 session (KWin on Wayland, virtual output 1280x800, with XWayland; plasmashell
# with its panel and system tray; kded5's StatusNotifierWatcher; kactivitymanagerd) with a fresh
# home and XDG folders under DIR, its own session bus and a private system bus; runs COMMAND inside
# it with WAYLAND_DISPLAY, DISPLAY and XAUTHORITY set, QUENLITOR_PLASMASHELL naming the shell's
# process and QUENLITOR_PLASMASHELL_LOG its log, and ends everything it started, by process id, the bus's activated services included.
# Prints "<TAG> FIGURE" lines with the start-up times and "<TAG> FAIL" when a part does not start.
#
# Usage: kde-session.sh TAG DIR COMMAND...
# kwin_wayland runs from a plain copy under DIR: the installed binary carries a file capability
# that a container may refuse. plasmashell runs on Wayland (QT_QPA_PLATFORM=wayland); COMMAND does
# not inherit that.
set -u
tag=$1 dir=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=session-prelude.sh
. "$here/session-prelude.sh"

mkdir -p "$dir"/{home,config,data,cache,runtime} /tmp/.X11-unix
# XWayland refuses a folder for its socket that is not sticky.
chmod 1777 /tmp/.X11-unix 2>/dev/null
chmod 0700 "$dir/runtime"
export HOME=$dir/home XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data XDG_CACHE_HOME=$dir/cache
export XDG_RUNTIME_DIR=$dir/runtime LANG=C.UTF-8 QUENLITOR_APP_ERR=$dir/application.log
export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 XDG_SESSION_TYPE=wayland
# Screenshots (org.kde.KWin.ScreenShot2) without asking the user.
export KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY DISPLAY XAUTHORITY QT_QPA_PLATFORM

# A private system bus (Plasma's services look for one), then the session bus.
address=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=3 3>"$dir/system-bus.pid" 2>"$dir/dbus.log") ||
  fail "dbus-daemon did not start a system bus"
pids+=("$(cat "$dir/system-bus.pid")")
export DBUS_SYSTEM_BUS_ADDRESS=$address
address=$(dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=3 3>"$dir/bus.pid" 2>>"$dir/dbus.log") ||
  fail "dbus-daemon did not start a session bus"
DBUS_SESSION_BUS_PID=$(cat "$dir/bus.pid")
export DBUS_SESSION_BUS_ADDRESS=$address DBUS_SESSION_BUS_PID

# KWin starts ready.sh once Wayland and XWayland are up, with their displays in its environment.
cp /usr/bin/kwin_wayland "$dir/kwin_wayland" || fail "could not copy kwin_wayland"
cat >"$dir/ready.sh" <<EOF
#!/bin/sh
echo "\$WAYLAND_DISPLAY \$DISPLAY \${XAUTHORITY:-}" > "$dir/ready.tmp" && mv "$dir/ready.tmp" "$dir/ready"
EOF
chmod +x "$dir/ready.sh"
started=$(ms)
"$dir/kwin_wayland" --virtual --xwayland --width 1280 --height 800 --no-lockscreen --socket quenlitor-kde \
  "$dir/ready.sh" >"$dir/kwin.log" 2>&1 &
pids+=($!)
for _ in $(seq 600); do
  [[ -s $dir/ready ]] && break
  sleep 0.1
done
[[ -s $dir/ready ]] || fail "kwin_wayland did not start within 60 s"
read -r WAYLAND_DISPLAY DISPLAY XAUTHORITY <"$dir/ready"
export WAYLAND_DISPLAY DISPLAY XAUTHORITY
echo "$tag FIGURE $("$dir/kwin_wayland" --version) with XWayland $DISPLAY ready after $(($(ms) - started)) ms"

# Services the bus starts (kded5, where the StatusNotifierWatcher lives) must reach the displays.
dbus-update-activation-environment DISPLAY WAYLAND_DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP KDE_FULL_SESSION \
  KDE_SESSION_VERSION XDG_SESSION_TYPE HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR \
  DBUS_SYSTEM_BUS_ADDRESS LANG 2>>"$dir/dbus.log" || fail "dbus-update-activation-environment failed"
activities=(/usr/lib/*/libexec/kactivitymanagerd)
[[ -x ${activities[0]} ]] || fail "kactivitymanagerd is missing; run scripts/bootstrap.sh --ci"
QT_QPA_PLATFORM=wayland "${activities[0]}" >"$dir/activities.log" 2>&1 &
pids+=($!)

started=$(ms)
QT_QPA_PLATFORM=wayland plasmashell --no-respawn >"$dir/plasmashell.log" 2>&1 &
pids+=($!)
export QUENLITOR_PLASMASHELL=$! QUENLITOR_PLASMASHELL_LOG=$dir/plasmashell.log
host=
for _ in $(seq 1200); do
  if gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered 2>/dev/null |
    grep -q true; then
    host=1
    break
  fi
  kill -0 "$QUENLITOR_PLASMASHELL" 2>/dev/null || fail "plasmashell ended during start-up"
  sleep 0.1
done
[[ -n $host ]] || fail "no StatusNotifierHost registered with the watcher within 120 s"
echo "$tag FIGURE $(plasmashell --version 2>/dev/null)'s tray host registered after $(($(ms) - started)) ms"

"$@"
status=$?
# The rest of the logs (KWin's, the bus's) stay in DIR.
if [[ $status -ne 0 ]]; then
  for log in application plasmashell; do
    [[ -s $dir/$log.log ]] && sed "s|^|$tag LOG $log: |" "$dir/$log.log" | tail -n 10
  done
fi
exit $status
