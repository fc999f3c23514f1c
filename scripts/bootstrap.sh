#!/usr/bin/env bash
# Installs the Debian 12 packages this project builds and tests with, when any is missing.
# Usage: scripts/bootstrap.sh [--ci]   (--ci adds what only CI needs: clang for fuzzing, the VM test tools,
# the X server, tray hosts and X tools of the tray smoke test and of the desktop acceptance test,
# and the package test's Debian tools)
# The validators of the manual pages, the .desktop file and the AppStream data run with the tests;
# dpkg-dev and file build the Debian package.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev nlohmann-json3-dev libasound2-dev
  qt6-base-dev qt6-svg-dev libgl-dev
  libwayland-dev libwayland-bin
  groff-base man-db desktop-file-utils appstream dpkg-dev file
)
if [[ "${1:-}" == "--ci" ]]; then
  packages+=(clang libclang-rt-14-dev qemu-system-x86 busybox-static cpio kmod)
  packages+=(xvfb trayer xdotool x11-utils imagemagick time)
  packages+=(lintian debootstrap wget)
  # The desktop acceptance test: a session bus, Xfce's panel as the StatusNotifierItem host, a
  # clipboard reader, Debian's Python bindings for D-Bus, and XCB's XFixes library (read through ctypes).
  packages+=(dbus libglib2.0-bin xfce4-panel xclip python3 python3-dbus libxcb-xfixes0)
  # The Wayland clipboard test: a data-control compositor (sway, headless) and Wayland readers.
  packages+=(sway xwayland wl-clipboard)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
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
