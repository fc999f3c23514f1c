#!/usr/bin/env bash
# Installs the Debian packages this project builds and tests with, when any is missing.
# Usage: scripts/bootstrap.sh [--ci]   (--ci adds what only CI needs: clang for fuzzing, the VM test tools,
# the X server, tray hosts and X tools of the tray smoke test and of the desktop acceptance test,
# and the package test's Debian tools)
# The validators of the manual pages, the .desktop file and the AppStream data run with the tests;
# dpkg-dev and file build the Debian package; the tray item's tests start a dbus-daemon of their own.
# Releases it knows, from /etc/os-release: Debian 12 (bookworm) and Debian 13 (trixie); Debian
# testing (forky) was last tried on 2026-12-08. The few names that differ between them are chosen
# below; on another release it says so and tries Debian 13's names.
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
# plasmashell runs on Wayland through Qt's Wayland plugin: Qt 5's on Debian 12 (Plasma 5.27), Qt 6's
# from Debian 13 on (Plasma 6, where the desktop sessions test's KDE session has not been tried).
# shellcheck source=/dev/null
release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
case $release in
  bookworm) clang_runtime=libclang-rt-14-dev tray_host=trayer qt_wayland=qtwayland5 ;;
  trixie) clang_runtime=libclang-rt-19-dev tray_host=trayer qt_wayland=qt6-wayland ;;
  forky) clang_runtime=libclang-rt-21-dev tray_host='' qt_wayland=qt6-wayland ;;
  *)
    echo "bootstrap: ${release:-this system} is not a release this script knows (bookworm, trixie, forky); trying Debian 13's package names" >&2
    clang_runtime=libclang-rt-19-dev tray_host=trayer qt_wayland=qt6-wayland ;;
esac

if [[ "${1:-}" == "--ci" ]]; then
  packages+=(clang "$clang_runtime" qemu-system-x86 busybox-static cpio kmod)
  packages+=(xvfb ${tray_host:+"$tray_host"} xdotool x11-utils imagemagick time)
  packages+=(lintian debootstrap wget)
  # The desktop acceptance test: a session bus, Xfce's panel as the StatusNotifierItem host, a
  # clipboard reader, Debian's Python bindings for D-Bus, and XCB's XFixes library (read through ctypes).
  packages+=(dbus libglib2.0-bin xfce4-panel xclip python3 python3-dbus libxcb-xfixes0)
  # The Wayland clipboard test: the data-control compositors (sway, KWin), GNOME Shell (Mutter,
  # without data-control) and Wayland readers.
  packages+=(sway kwin-wayland gnome-shell xwayland wl-clipboard)
  # The desktop sessions test: GNOME Shell headless, with and without the AppIndicator extension;
  # KDE Plasma's shell with its default panel and the activity manager it needs (on KWin, above);
  # grim for screenshots under sway; the accessibility bus, where the GNOME session reads and
  # presses the window's widgets.
  packages+=(gnome-shell-extension-appindicator plasma-workspace plasma-desktop "$qt_wayland" kactivitymanagerd grim)
  packages+=(at-spi2-core)
  # The tray faults test: its fake StatusNotifierWatcher runs GLib's main loop.
  packages+=(python3-gi)
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
