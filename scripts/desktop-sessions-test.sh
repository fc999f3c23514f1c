#!/usr/bin/env bash
# The installed application on the desktops people run, each started headless with a fresh home by
# the desktop harness (python3 -m desktop, scripts/desktop/): Xfce's and LXQt's panels, GNOME Shell,
# KDE Plasma and sway with swaybar (as the user nobody when run as root), one PASS/FAIL line per
# check, each session bounded in time; a missing package of the sessions is a FAIL naming it.
#
# Usage: scripts/desktop-sessions-test.sh [--screenshot FILE] [BUILD_DIR]   (BUILD_DIR: build/dev)
#        scripts/desktop-sessions-test.sh --release trixie
#        scripts/desktop-sessions-test.sh --installed APP LOGS   (the application installed at APP)
#   QUENLITOR_DESKTOPS="kde sway"  only those of xfce lxqt gnome kde sway
#   --screenshot FILE  keeps the picture of the window under GNOME Shell (a PNG)
#   --release trixie   the same on Debian 13's desktops, in a copy of the minimal system that
#                      scripts/package-test.sh --release trixie keeps (run it first), with the
#                      package it built; the logs stay in that system's /srv/quenlitor/logs
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
screenshot= release= app=
case ${1:-} in
  --screenshot) screenshot=$(realpath -m "${2:?--screenshot needs a file}"); shift 2 ;;
  --release) release=${2:?--release needs trixie}; shift 2 ;;
  --installed) app=${2:?--installed needs the application}; work=${3:?--installed needs a folder for the logs}; shift 3 ;;
esac

# Another release: a copy of the package test's minimal system (made again with it), its desktops
# and the package installed; this script runs there in namespaces of its own (X displays and
# abstract sockets apart from this machine's).
if [[ -n $release ]]; then
  cache=${QUENLITOR_PACKAGE_CACHE:-/var/cache/quenlitor-package-test}/$release
  system=$cache/sessions
  deb=$(ls -t "$cache"/build/root/quenlitor/build/release/quenlitor-midi-texto_*.deb 2>/dev/null | head -n 1)
  [[ -d $cache/minbase && -n $deb ]] || { echo "FAIL no $release system or package in $cache; run scripts/package-test.sh --release $release first"; exit 1; }
  # in_system LIMIT [--net] COMMAND...: COMMAND in the system, with /proc, /sys, /dev and fresh
  # /dev/shm, /run and /tmp.
  in_system() {
    local limit=$1 net=()
    shift
    [[ $1 == --net ]] && { net=(--net); shift; }
    # shellcheck disable=SC2016
    timeout -k 10 "$limit" unshare "${net[@]}" --mount --pid --fork --kill-child /bin/bash -c 'set -e; s=$1; shift
      mount -t proc proc "$s/proc"; mount --rbind /dev "$s/dev"; mount -t sysfs sysfs "$s/sys"
      mount -t tmpfs tmpfs "$s/dev/shm"; mount -t tmpfs tmpfs "$s/run"; mount -t tmpfs tmpfs "$s/tmp"
      exec chroot "$s" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"' \
      in-system "$system" "$@"
  }
  started=$SECONDS
  if [[ ! -f $system.done || $cache/minbase.done -nt $system.done ]]; then
    rm -rf --one-file-system "$system" "$system.done"
    cp -a "$cache/minbase" "$system" && cp /etc/resolv.conf "$system/etc/resolv.conf" || exit 1
    printf 'deb http://deb.debian.org/debian %s main\ndeb http://deb.debian.org/debian %s-updates main\ndeb http://deb.debian.org/debian-security %s-security main\n' \
      "$release" "$release" "$release" >"$system/etc/apt/sources.list"
    printf '#!/bin/sh\nexit 101\n' >"$system/usr/sbin/policy-rc.d" && chmod 0755 "$system/usr/sbin/policy-rc.d"
    mkdir -p "$system/srv/quenlitor" && cp -a "$root/scripts" "$system/srv/quenlitor/"
    in_system 1800 /bin/sh -c 'apt-get update -qq && /srv/quenlitor/scripts/bootstrap.sh --sessions' \
      >"$cache/sessions.log" 2>&1 || { tail -n 30 "$cache/sessions.log"; echo "FAIL the desktops of $release did not install"; exit 1; }
    touch "$system.done"
    echo "FIGURE $release's desktops installed in $((SECONDS - started)) s: $(du -sm "$system" | cut -f1) MB"
  fi
  # Where the user nobody (sway's session) reads the scripts; the logs outlive the system's /tmp.
  rm -rf "$system/srv/quenlitor" "$system/root/quenlitor" && mkdir -p "$system/srv/quenlitor" &&
    cp -a "$root/scripts" "$deb" "$system/srv/quenlitor/" && chmod -R a+rX "$system/srv/quenlitor"
  in_system 600 apt-get install -y -qq --reinstall "/srv/quenlitor/$(basename "$deb")" >"$cache/install.log" 2>&1 ||
    { tail -n 20 "$cache/install.log"; echo "FAIL apt-get install ./$(basename "$deb") in the $release system"; exit 1; }
  echo "FIGURE $(basename "$deb") installed in the $release system"
  in_system 900 --net /usr/bin/env QUENLITOR_DESKTOPS="${QUENLITOR_DESKTOPS:-}" \
    /srv/quenlitor/scripts/desktop-sessions-test.sh --installed /usr/bin/quenlitor-midi-texto /srv/quenlitor/logs
  status=$?
  echo "FIGURE the $release sessions took $((SECONDS - started)) s; logs in $system/srv/quenlitor/logs"
  exit $status
fi

if [[ -z $app ]]; then
  build=$(cd "${1:-$root/build/dev}" 2>/dev/null && pwd) || { echo "desktop-sessions-test: no build directory ${1:-build/dev}" >&2; exit 2; }
  work=$build/desktop-sessions
  rm -rf "$work" && mkdir -p "$work"
  cmake --build "$build" --target quenlitor-midi-texto >/dev/null || { echo "FAIL could not build quenlitor-midi-texto"; exit 1; }
  cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || { echo "FAIL cmake --install: $work/install.log"; exit 1; }
  app=$work/prefix/bin/quenlitor-midi-texto
else
  rm -rf "$work" && mkdir -p "$work"
fi

failed=0
for package in $("$root/scripts/bootstrap.sh" --missing-sessions); do
  echo "FAIL $package is missing; run scripts/bootstrap.sh --sessions"
  failed=1
done
((failed)) && exit 1

export PYTHONPATH=$root/scripts
wanted() { [[ -z ${QUENLITOR_DESKTOPS:-} || " $QUENLITOR_DESKTOPS " == *" $1 "* ]]; }
# run NAME SECONDS DESKTOP COMMAND...: COMMAND's check lines, bounded in time, if DESKTOP is wanted.
run() {
  local name=$1 seconds=$2
  wanted "$3" || return 0
  shift 3
  local started=$SECONDS
  timeout -k 5 "$seconds" "$@" >"$work/$name.log" 2>&1
  local status=$?
  grep -E '^[A-Z-]+ (PASS|FAIL|FIGURE|LOG)' "$work/$name.log"
  ((status == 124)) && echo "FAIL $name did not finish within $seconds s"
  ((status == 0)) || failed=1
  echo "FIGURE $name took $((SECONDS - started)) s"
}
run xfce4-panel 150 xfce /usr/bin/python3 -m desktop xfce "$work/xfce" xfce "$app"
run lxqt-panel 90 lxqt /usr/bin/python3 -m desktop lxqt "$work/lxqt" lxqt "$app" "$work/lxqt.png"
run gnome-shell 180 gnome /usr/bin/python3 -m desktop gnome "$work/gnome" gnome "$app" "${screenshot:-$work/ventana-gnome.png}"
run kde-plasma 180 kde /usr/bin/python3 -m desktop kde "$work/kde" kde "$app" "$work/plasma.png"
# sway refuses root: as root its session runs as nobody, with the sticky folder XWayland wants.
as_user=()
if ((EUID == 0)); then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all)
  mkdir -p "$work/sway" /tmp/.X11-unix && chown 65534:65534 "$work/sway" && chmod 1777 /tmp/.X11-unix
fi
if ! wanted sway; then
  :
elif "${as_user[@]}" test -x "$app"; then
  run swaybar 90 sway "${as_user[@]}" /usr/bin/python3 -m desktop sway "$work/sway/session" sway "$app" "$work/sway/swaybar.png"
else
  echo "SWAYBAR FAIL the user nobody cannot run $app (a folder on the way is closed to others)"
  failed=1
fi

if ((failed)); then
  echo "desktop-sessions-test: some checks failed (logs in $work)"
  exit 1
fi
echo "desktop-sessions-test: all checks passed"
