#!/usr/bin/env bash
# Acceptance test of the whole product as a musician runs it, in a virtual machine: Debian's kernel
# under qemu (scripts/vm-kernel.sh) mounts this machine's root read-only over virtio-9p under a
# tmpfs overlay and chroots into it, so the guest runs the packages installed here. There, in the
# harness's Xfce session (scripts/desktop/vm.py), snd-virmidi's two keyboards are played: the
# gestures and the clipboard, settings across a restart, unplugging, a hot-plug storm, the speed
# beside `quenlitor-tokens listen`; then as nobody in its sway session (wayland_vm.py): the token
# read by wl-paste and xclip, "Copiar último token", the speed to the Wayland selection. The
# verdict comes from the markers on the serial console: qemu exits 0 even after a kernel panic.
#
# Usage: scripts/desktop-vm-test.sh [--no-measure | --speed | --speed-xembed | --wayland] [BUILD_DIR]
#   (BUILD_DIR defaults to build/dev, installed into a temporary prefix)
#   --no-measure    skips the speed measurement (about a third of the virtual machine's time)
#   --speed         only the speed measurement
#   --speed-xembed  the same with trayer (XEmbed) as the tray: no menu over D-Bus then
#   --wayland       only the Wayland session
# Needs the packages of scripts/bootstrap.sh --ci. QUENLITOR_VM_TIMEOUT bounds the virtual machine
# in seconds (default 900); QUENLITOR_PROFILE=perf,dbus samples the guest with perf (linux-perf)
# and counts the session bus's messages while the CPU time is measured.
set -uo pipefail
measure=1
guest_mode=vm
tray_host=
x11_session=1
case ${1:-} in
  --wayland) x11_session=0; shift ;;
  --no-measure) measure=0; shift ;;
  --speed) guest_mode=speed; shift ;;
  --speed-xembed) guest_mode=speed; tray_host=trayer; shift ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/dev}" 2>/dev/null && pwd) || { echo "desktop-vm-test: no build directory ${1:-build/dev}" >&2; exit 2; }
timeout_seconds=${QUENLITOR_VM_TIMEOUT:-900}
work=$build/desktop-vm
log=$work/console.log
started=$(date +%s)

die() {
  echo "desktop-vm-test: $*" >&2
  exit 1
}

# shellcheck source=vm-kernel.sh
source "$root/scripts/vm-kernel.sh"
vm_require cmake Xvfb dbus-daemon xclip sway wl-paste wl-copy xmessage setpriv xfce4-panel trayer
/usr/bin/python3 -c 'import ctypes, dbus; ctypes.CDLL("libxcb-xfixes.so.0")' 2>/dev/null ||
  die "Debian's python3 lacks dbus, or libxcb-xfixes0 is missing; install python3-dbus and libxcb-xfixes0 (scripts/bootstrap.sh --ci)"

cmake --build "$build" --target quenlitor-midi-texto quenlitor-tokens quenlitor-compressed-docs \
  quenlitor-wayland-selection >/dev/null ||
  die "could not build quenlitor-midi-texto, quenlitor-tokens, their manual pages and quenlitor-wayland-selection in $build"
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || die "cmake --install failed: $work/install.log"
[[ -x $prefix/bin/quenlitor-midi-texto && -x $prefix/bin/quenlitor-tokens ]] || die "the installation lacks the programs"

vm_kernel
rootfs=$work/rootfs
mkdir -p "$rootfs"/{bin,proc,sys,dev,host,rw,newroot}
vm_collect_modules "$rootfs/modules" virtio_pci 9pnet_virtio 9p overlay snd-seq snd-virmidi:midi_devs=2
cp "$(command -v busybox)" "$rootfs/bin/busybox"

{ vm_init_prelude DESKTOP-VM; cat <<EOF; } >"$rootfs/init"
# This machine's root, read-only, under a tmpfs for what the session writes.
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000 hostroot /host || echo "DESKTOP-VM FAIL no 9p root"
mount -t tmpfs -o size=600m tmpfs /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work /newroot || echo "DESKTOP-VM FAIL no overlay"
for dir in dev proc sys; do mount --move /\$dir /newroot/\$dir; done
# A fresh /tmp for the session; a checkout or build under the host's /tmp stays visible over it.
kept=0
for dir in "$root" "$build"; do
  case "\$dir" in
    /tmp/*) mkdir -p "/kept/\$kept"; mount --bind "/newroot\$dir" "/kept/\$kept"; kept=\$((kept + 1)) ;;
  esac
done
mount -t tmpfs tmpfs /newroot/tmp
kept=0
for dir in "$root" "$build"; do
  case "\$dir" in
    /tmp/*) mkdir -p "/newroot\$dir"; mount --move "/kept/\$kept" "/newroot\$dir"; kept=\$((kept + 1)) ;;
  esac
done
mount -t tmpfs tmpfs /newroot/run
mkdir -p /newroot/dev/shm
mount -t tmpfs tmpfs /newroot/dev/shm
if [ $x11_session = 1 ]; then
echo "DESKTOP-VM session starts"
chroot /newroot /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  QUENLITOR_MEASURE=$measure QUENLITOR_PROFILE=${QUENLITOR_PROFILE:-} PYTHONPATH=$root/scripts \
  /usr/bin/python3 -m desktop ${tray_host:-xfce} /tmp/session vm $guest_mode "$prefix/bin/quenlitor-midi-texto" \
  "$prefix/bin/quenlitor-tokens"
echo "DESKTOP-VM session exit \$?"
fi
if [ $guest_mode = vm ]; then
# sway refuses root: the Wayland session, the application and the checks run as nobody, who may
# play the virtual keyboards and open the sequencer.
echo "DESKTOP-VM wayland session starts"
chmod 0666 /newroot/dev/snd/*
mkdir -p /newroot/tmp/.X11-unix
chmod 1777 /newroot/tmp/.X11-unix
mkdir -p /newroot/tmp/wayland
chown 65534:65534 /newroot/tmp/wayland
chroot /newroot /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  QUENLITOR_MEASURE=$measure PYTHONPATH=$root/scripts /usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups \
  /usr/bin/python3 -m desktop sway /tmp/wayland/session wayland_vm "$prefix/bin/quenlitor-midi-texto" \
  "$prefix/bin/quenlitor-tokens" "$build/bin/quenlitor-wayland-selection"
echo "DESKTOP-VM wayland session exit \$?"
fi
poweroff -f
EOF
chmod +x "$rootfs/init"

prepared=$(date +%s)
vm_boot "$rootfs" "$log" "$timeout_seconds" 1024 \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap

tr -d '\r' <"$log" | grep -E '^((DESKTOP|WAYLAND)-CHECK (PASS|FAIL|FIGURE|LOG)|DESKTOP-VM)' || true
echo "desktop-vm-test: prepared in $((prepared - started))s, virtual machine ran ${vm_ran}s"
verdict=
if [[ $vm_status -eq 124 ]]; then
  verdict="the virtual machine did not finish within ${timeout_seconds}s"
elif grep -qE '(DESKTOP|WAYLAND)-CHECK FAIL' "$log"; then
  verdict="checks in the virtual machine failed"
elif [[ $x11_session -eq 1 ]] && ! grep -q 'DESKTOP-CHECK DONE ok' "$log"; then
  verdict="the checks in the virtual machine did not finish (kernel panic, crash?)"
elif [[ $guest_mode == vm ]] && ! grep -q 'WAYLAND-CHECK DONE ok' "$log"; then
  verdict="the Wayland checks in the virtual machine did not finish (kernel panic, crash?)"
fi
if [[ -n $verdict ]]; then
  echo "FAIL $verdict; serial console log: $log"
  echo "desktop-vm-test: FAILED; logs in $work" >&2
  exit 1
fi
echo "desktop-vm-test: all checks passed; serial console log: $log"
