# Sourced by the virtual-machine tests (alsa-vm-test.sh, desktop-vm-test.sh).
# vm_kernel: Debian's packaged kernel (what linux-image-amd64 stands for), downloaded once into
# $QUENLITOR_VM_CACHE, else /var/cache/quenlitor-vm when writable, else ~/.cache/quenlitor-vm;
# sets vm_tree (its image and modules, unpacked) and vm_kernel_version.
# vm_collect_modules DIR MODULE[:PARAMETERS]...: each module and those it needs into DIR, and
# DIR/order, one "FILE PARAMETERS" line per module in loading order.
# vm_require TOOL...: the tools of a virtual machine's test, and those; vm_boot ROOTFS LOG TIMEOUT
# MEMORY [QEMU OPTION...]: ROOTFS packed as the initramfs, booted, the console in LOG; qemu's
# status in $vm_status, the seconds it ran in $vm_ran. All call die (the caller's) on failure.

vm_require() {
  local tool
  for tool in qemu-system-x86_64 busybox cpio depmod modprobe dpkg-deb apt-get apt-cache timeout "$@"; do
    command -v "$tool" >/dev/null || die "$tool is missing; run scripts/bootstrap.sh --ci"
  done
  ldd "$(command -v busybox)" >/dev/null 2>&1 && die "busybox is not the static build; install busybox-static"
  return 0
}

vm_boot() {
  local rootfs=$1 log=$2 timeout_seconds=$3 memory=$4 accel started
  shift 4
  (cd "$rootfs" && find . | cpio -o -H newc --quiet) >"$rootfs.cpio"
  # Software emulation by default: nested KVM, where /dev/kvm exists at all, has been seen to hang
  # at boot on these machines. QUENLITOR_VM_ACCEL: qemu's accelerators, colon-separated.
  local accel_options=()
  IFS=: read -ra accel <<<"${QUENLITOR_VM_ACCEL:-tcg}"
  for a in "${accel[@]}"; do accel_options+=(-accel "$a"); done
  echo "booting $vm_kernel_version (${QUENLITOR_VM_ACCEL:-tcg}, 1 vCPU, $memory MiB, $(du -h "$rootfs.cpio" | cut -f1) initramfs), at most ${timeout_seconds}s"
  started=$(date +%s)
  timeout "$timeout_seconds" nice -n 10 qemu-system-x86_64 "${accel_options[@]}" -cpu max -smp 1 -m "$memory" \
    -nographic -no-reboot -nic none -kernel "$vm_tree/boot/vmlinuz-$vm_kernel_version" -initrd "$rootfs.cpio" \
    -append "console=ttyS0 panic=-1 quiet" "$@" </dev/null >"$log" 2>&1
  vm_status=$?
  vm_ran=$(($(date +%s) - started))
}

vm_kernel() {
  local cache=${QUENLITOR_VM_CACHE:-/var/cache/quenlitor-vm} package deb
  mkdir -p "$cache" 2>/dev/null && [[ -w $cache ]] || cache=${XDG_CACHE_HOME:-$HOME/.cache}/quenlitor-vm
  mkdir -p "$cache"
  local apt_options=()
  if [[ $(id -u) -eq 0 ]]; then
    # Kernel versions move: CI always looks at the newest lists.
    [[ -n ${CI:-} ]] && apt-get update -qq
    # root may write the cache; the _apt user may not.
    apt_options=(-o APT::Sandbox::User=root)
  fi
  _vm_resolve() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'; }
  package=$(_vm_resolve)
  if [[ -z $package && $(id -u) -eq 0 ]]; then
    apt-get update -qq
    package=$(_vm_resolve)
  fi
  deb=
  if [[ -n $package ]]; then
    deb=$(find "$cache" -maxdepth 1 -name "${package}_*_amd64.deb" | sort | tail -n 1)
    if [[ -z $deb ]]; then
      echo "vm-kernel: downloading $package into $cache"
      (cd "$cache" && apt-get "${apt_options[@]}" download "$package" >/dev/null) || die "could not download $package"
      deb=$(find "$cache" -maxdepth 1 -name "${package}_*_amd64.deb" | sort | tail -n 1)
      # Older kernels are of no further use.
      find "$cache" -maxdepth 1 -name 'linux-image-*' ! -name "$(basename "$deb")" -exec rm -rf {} +
    fi
  else
    # No package lists and no way to fetch them: a kernel cached earlier still does.
    deb=$(find "$cache" -maxdepth 1 -name 'linux-image-*_amd64.deb' | sort | tail -n 1)
  fi
  [[ -n $deb && -f $deb ]] || die "no kernel package: linux-image-amd64 cannot be resolved and $cache holds none"

  # Only the image and the modules the tests load (sound, virtio, 9p, overlayfs); depmod makes
  # the modules.dep the package lacks.
  vm_tree=$cache/$(basename "$deb" .deb)
  if [[ ! -f $vm_tree/.complete-2 ]]; then
    rm -rf "$vm_tree"
    mkdir -p "$vm_tree"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$vm_tree" --wildcards \
      './boot/vmlinuz-*' './lib/modules/*/modules.*' './lib/modules/*/kernel/sound/*' \
      './lib/modules/*/kernel/drivers/virtio/*' './lib/modules/*/kernel/net/9p/*' \
      './lib/modules/*/kernel/fs/9p/*' './lib/modules/*/kernel/fs/netfs/*' './lib/modules/*/kernel/fs/fscache/*' \
      './lib/modules/*/kernel/fs/overlayfs/*' || die "could not unpack $deb"
    touch "$vm_tree/.complete-2"
  fi
  vm_kernel_version=$(basename "$(find "$vm_tree/lib/modules" -mindepth 1 -maxdepth 1 -type d | head -n 1)")
  depmod -b "$vm_tree" "$vm_kernel_version"
}

vm_collect_modules() {
  local dir=$1 entry module parameters verb path name
  shift
  mkdir -p "$dir"
  : >"$dir/order"
  local -A loaded=()
  for entry in "$@"; do
    module=${entry%%:*}
    parameters=
    [[ $entry == *:* ]] && parameters=${entry#*:}
    while read -r verb path _; do
      [[ $verb == insmod && -z ${loaded[$path]:-} ]] || continue
      loaded[$path]=1
      name=$(basename "$path")
      cp "$path" "$dir/$name"
      # The parameters belong to the module asked for, not to what it needs.
      if [[ $name == "${module//_/-}.ko" || $name == "${module//-/_}.ko" ]]; then
        echo "$name $parameters" >>"$dir/order"
      else
        echo "$name" >>"$dir/order"
      fi
    done < <(modprobe -d "$vm_tree" -S "$vm_kernel_version" --show-depends "$module" 2>/dev/null)
    grep -q "^${module//_/-}.ko\|^${module//-/_}.ko" "$dir/order" || die "modprobe found no $module in $vm_tree"
  done
}

# The first lines of a guest's /init, printed for the script to append its own: busybox's
# commands, /dev, /proc and /sys, the console, and the collected modules loaded in order, each
# failure and the kernel's version reported on the serial console after MARKER.
vm_init_prelude() {
  local marker=$1
  cat <<PRELUDE
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sysfs /sys
# Nothing to autoload from: the modules are loaded below, in order.
echo >/proc/sys/kernel/modprobe
echo "$marker kernel \$(uname -r)"
while read -r module parameters; do
  insmod "/modules/\$module" \$parameters || echo "$marker insmod failed: \$module"
done </modules/order
PRELUDE
}
