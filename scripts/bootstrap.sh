#!/usr/bin/env bash
# Installs the Debian packages this project builds and tests with, when any is missing.
# Usage: scripts/bootstrap.sh [--ci | --sessions | --missing-sessions]
#   --ci adds what only CI needs: clang for fuzzing, the virtual machines' tools, the tray hosts,
#   X tools and desktops of the desktop tests, the package test's Debian tools; --sessions installs
#   the desktops alone (in the Debian 13 system of the sessions test); --missing-sessions prints
#   which of them are not installed, one a line.
# Releases it knows: Debian 12 (bookworm) and 13 (trixie); testing (forky) last tried 2026-12-08.
# On another release it says so and tries Debian 13's names.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev nlohmann-json3-dev libasound2-dev
  qt6-base-dev qt6-svg-dev libgl-dev libxcb1-dev
  libwayland-dev libwayland-bin
  groff-base man-db desktop-file-utils appstream dpkg-dev file
  dbus-daemon
)

# clang's sanitizer and fuzzer runtime carries clang's version in its name; trayer, the XEmbed tray
# host, is not in Debian testing at present (the tests that need it say it is missing);
# plasmashell runs on Wayland through Qt's Wayland plugin: Qt 5's on Debian 12 (Plasma 5.27, its
# watcher in kded5), Qt 6's from Debian 13 on (Plasma 6, its watcher in kded6).
# shellcheck source=/dev/null
release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
case $release in
  bookworm) clang_runtime=libclang-rt-14-dev tray_host=trayer plasma=(qtwayland5 kded5) ;;
  trixie) clang_runtime=libclang-rt-19-dev tray_host=trayer plasma=(qt6-wayland kded6) ;;
  forky) clang_runtime=libclang-rt-21-dev tray_host='' plasma=(qt6-wayland kded6) ;;
  *)
    echo "bootstrap: ${release:-this system} is not a release this script knows (bookworm, trixie, forky); trying Debian 13's package names" >&2
    clang_runtime=libclang-rt-19-dev tray_host=trayer plasma=(qt6-wayland kded6) ;;
esac

# The desktop sessions test: the desktops, XWayland, the X tools that find and click windows and
# take pictures (grim under sway), the accessibility bus, Debian's Python bindings for D-Bus and GLib.
sessions=(xvfb dbus libglib2.0-bin xdotool x11-utils imagemagick xclip python3 python3-dbus python3-gi at-spi2-core
  xfce4-panel lxqt-panel openbox gnome-shell gnome-shell-extension-appindicator xwayland
  kwin-wayland plasma-workspace plasma-desktop kactivitymanagerd "${plasma[@]}" sway grim)

case ${1:-} in
  --ci)
    packages+=(clang "$clang_runtime" qemu-system-x86 busybox-static cpio kmod)
    packages+=(${tray_host:+"$tray_host"} time lintian debootstrap wget)
    packages+=(libxcb-xfixes0 wl-clipboard "${sessions[@]}") ;;
  --sessions) packages=("${sessions[@]}") ;;
  --missing-sessions) packages=("${sessions[@]}") ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${1:-} == --missing-sessions ]] && { ((${#missing[@]} == 0)) || printf '%s\n' "${missing[@]}"; exit 0; }
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Run this script as root, or install them with: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
