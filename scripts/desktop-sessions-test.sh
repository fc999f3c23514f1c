#!/usr/bin/env bash
# The installed application on the desktops people run, each started headless from Debian's
# packages with a fresh home, one PASS/FAIL line per check (scripts/desktop/):
# - Xfce's panel (session.sh, xfce_panel.py): no window while the item is in the tray, the panel
#   killed and started again, then killed for good (the window after 5 to 7 s, a second start
#   focusing it), then back;
# - GNOME Shell 43 (gnome-session.sh, gnome_shell.py): stock, SIGTERM during the wait of
#   --autostart, and started by a person the window within 1 s, its screenshot showing the
#   window's own pixels, a second start focusing it, its commands pressed over
#   the accessibility bus (accessible_window.py); then the AppIndicator extension switched on
#   while it runs, the menu over dbusmenu and its commands; the extension off, the window's "Salir";
# - KDE Plasma 5.27 (kde-session.sh, kde_plasma.py): kwin_wayland with XWayland and plasmashell's
#   tray; the item's properties, the menu over dbusmenu and its commands, Activate(x, y) and
#   ContextMenu(x, y) opening the menu within 100 px of (x, y) (read from XWayland), plasmashell
#   killed and started again (the new host reads the item within 2 s), a screenshot that shows the
#   item's icon in the panel (kde/plasma.png);
# - sway 1.7 with swaybar (wayland-session.sh, sway_bar.py; as the user nobody when run as root):
#   the item registers, its icon is drawn in the bar (sway/swaybar.png), a left and a right click
#   on it through a virtual pointer open the menu within 100 px of the icon.
# Each session is bounded in time; a missing tool is one FAIL line naming it. The Xfce, KDE and
# sway sessions end, with what they started, what their programs started in turn (found by the
# session's runtime folder in its environment).
#
# Usage: scripts/desktop-sessions-test.sh [--screenshot FILE] [BUILD_DIR]   (BUILD_DIR: build/dev)
#   --screenshot FILE  keeps the picture of the window under GNOME Shell (a PNG)
# Needs: xvfb dbus xfce4-panel xdotool x11-utils python3-dbus gnome-shell
# gnome-shell-extension-appindicator xwayland kwin-wayland plasma-workspace plasma-desktop qtwayland5
# kactivitymanagerd sway grim at-spi2-core imagemagick (scripts/bootstrap.sh --ci installs them).
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
missing GNOME-SHELL gnome-shell Xwayland dbus-run-session gsettings xdotool xwininfo import identify compare \
  /usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com ||
  QUENLITOR_GNOME_UNSAFE=1 QUENLITOR_APP_ERR=$work/gnome-application.log run gnome-shell 180 \
    "$root/scripts/desktop/gnome-session.sh" GNOME-SHELL "$work/gnome" \
    /usr/bin/python3 "$root/scripts/desktop/gnome_shell.py" "$app" "${screenshot:-$work/ventana-gnome.png}"

# plasmashell's panel comes with plasma-desktop, its way to Wayland with qtwayland5.
qt_wayland=(/usr/lib/*/qt5/plugins/platforms/libqwayland-generic.so)
missing KDE-PLASMA kwin_wayland plasmashell Xwayland dbus-daemon dbus-update-activation-environment dbus-monitor gdbus \
  xwininfo xdotool /usr/bin/python3 /usr/share/plasma/shells/org.kde.plasma.desktop "${qt_wayland[0]}" \
  /usr/share/dbus-1/services/org.kde.ActivityManager.service ||
  run kde-plasma 120 "$root/scripts/desktop/kde-session.sh" KDE-PLASMA "$work/kde" \
    /usr/bin/python3 "$root/scripts/desktop/kde_plasma.py" "$app" "$work/kde/plasma.png"

# sway refuses to run as root: as root, its session runs as the user nobody (uid 65534), in a folder
# of its own, with the sticky folder that XWayland wants for its socket.
as_user=()
if ((EUID == 0)); then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all)
  mkdir -p "$work/sway" /tmp/.X11-unix && chown 65534:65534 "$work/sway" && chmod 1777 /tmp/.X11-unix
fi
if ! missing SWAYBAR sway swaybar Xwayland grim dbus-daemon dbus-monitor gdbus xwininfo xdotool setpriv /usr/bin/python3; then
  if "${as_user[@]}" test -x "$app"; then
    run swaybar 90 "${as_user[@]}" "$root/scripts/desktop/wayland-session.sh" SWAYBAR "$work/sway" \
      sway_bar.py "$app" "$work/sway/swaybar.png"
  else
    echo "SWAYBAR FAIL the user nobody cannot run $app (a folder on the way is closed to others)"
    failed=1
  fi
fi

if ((failed)); then
  echo "desktop-sessions-test: some checks failed (logs in $work)"
  exit 1
fi
echo "desktop-sessions-test: all checks passed"
