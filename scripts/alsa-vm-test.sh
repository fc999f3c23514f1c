#!/usr/bin/env bash
# Tests the ALSA binding against a real kernel sequencer: boots Debian's packaged kernel under
# qemu (software emulation, no device of this machine needed) with an initramfs holding static
# busybox, the sound modules, ALSASequencerTests and its libraries, loads the sequencer, a
# "Midi Through" port and a virtual MIDI card, runs the tests and powers off. The verdict comes
# from the markers on the serial console: qemu exits 0 even after a kernel panic.
#
# Usage: scripts/alsa-vm-test.sh [BUILD_DIR]   (default build/dev, configured already)
# Needs the packages of scripts/bootstrap.sh --ci; the kernel is cached (scripts/vm-kernel.sh).
# QUENLITOR_VM_TIMEOUT bounds the boot in seconds (default 300).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/dev}" && pwd)
timeout_seconds=${QUENLITOR_VM_TIMEOUT:-300}
work=$build/alsa-vm
log=$work/console.log
started=$(date +%s)

die() {
  echo "alsa-vm-test: $*" >&2
  exit 1
}

# shellcheck source=vm-kernel.sh
source "$root/scripts/vm-kernel.sh"
vm_require ldd strip

# The test program, as the build tree has it.
cmake --build "$build" --target ALSASequencerTests quenlitor-tokens || die "could not build ALSASequencerTests in $build"
check=$build/bin/ALSASequencerTests
cli=$build/bin/quenlitor-tokens
[[ -x $check && -x $cli ]] || die "$check or $cli was not built"

# The kernel and the sound modules, with the virtual MIDI card's one device.
vm_kernel

rm -rf "$work"
rootfs=$work/rootfs
mkdir -p "$rootfs"/{bin,proc,sys,dev,tmp,usr/share/alsa}
vm_collect_modules "$rootfs/modules" snd-seq-dummy snd-virmidi:midi_devs=1 snd-seq-midi
grep -q '^snd-seq.ko' "$rootfs/modules/order" || die "modprobe found no snd-seq in $vm_tree"

cp "$(command -v busybox)" "$rootfs/bin/busybox"
strip --strip-debug -o "$rootfs/bin/ALSASequencerTests" "$check"
strip --strip-debug -o "$rootfs/bin/quenlitor-tokens" "$cli"
# The loader and every library the programs need, where the loader looks for them.
while read -r library; do
  mkdir -p "$rootfs$(dirname "$library")"
  cp -L "$library" "$rootfs$library"
done < <(ldd "$check" "$cli" | awk '/=> \// {print $3} /^\t\// {print $1}' | sort -u)
# Without it snd_seq_open("default") fails.
cp /usr/share/alsa/alsa.conf "$rootfs/usr/share/alsa/alsa.conf"

{ vm_init_prelude ALSA-VM; cat <<'EOF'; } >"$rootfs/init"
ls /dev/snd | tr '\n' ' '
echo
# Every test must run here: one skipped means no sequencer.
HOME=/tmp /bin/ALSASequencerTests --gtest_color=no >/tmp/tests 2>&1
status=$?
sed 's/^/ALSA-TEST /' /tmp/tests
echo "ALSA-VM tests exit $status"
# The command-line tool lists the sources through the same service.
HOME=/tmp /bin/quenlitor-tokens listen --list >/tmp/sources
echo "ALSA-VM listen exit $?"
sed 's/^/ALSA-LIST /' /tmp/sources
poweroff -f
EOF
chmod +x "$rootfs/init"
prepared=$(date +%s)
set +e
vm_boot "$rootfs" "$log" "$timeout_seconds" 512
set -e

tr -d '\r' <"$log" | grep -E '^(ALSA-TEST|ALSA-VM|ALSA-LIST)' || true
echo "alsa-vm-test: prepared in $((prepared - started))s, virtual machine ran ${vm_ran}s"
verdict=
if [[ $vm_status -eq 124 ]]; then
  verdict="the virtual machine did not finish within ${timeout_seconds}s"
elif ! grep -q 'ALSA-VM tests exit' "$log"; then
  verdict="the tests did not finish (kernel panic or crash?)"
elif ! grep -q 'ALSA-VM tests exit 0' "$log" || ! grep -q '^ALSA-TEST \[  PASSED  \]' "$log"; then
  verdict="tests failed"
elif grep -q '^ALSA-TEST \[  SKIPPED \]' "$log"; then
  verdict="tests were skipped"
elif ! grep -q 'ALSA-VM listen exit 0' "$log" || ! tr -d '\r' <"$log" | grep -qP '^ALSA-LIST -?\d+\tconectada\t'; then
  verdict="quenlitor-tokens listen --list failed or listed no connected source"
fi
if [[ -n $verdict ]]; then
  echo "alsa-vm-test: FAILED: $verdict; serial console log: $log" >&2
  exit 1
fi
echo "alsa-vm-test: passed; serial console log: $log"
