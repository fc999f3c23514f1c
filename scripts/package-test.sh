#!/usr/bin/env bash
# The Debian package on a system that has never seen the project, for one Debian release: builds
# it (the `package` workflow preset), checks it with that release's lintian, installs it with apt
# into a fresh debootstrapped minimal system (every dependency from Debian's archive), runs both
# programs and looks up the manual pages there, runs the tray smoke test (trayer under Xvfb) on the
# installed package, then purges it and checks that none of its files is left. One PASS or
# FAIL line per step, with its time. On another release than the machine's, the package is built
# in a second minimal system of that release, made once and kept, where scripts/bootstrap.sh
# installs the build's packages.
#
# Usage: scripts/package-test.sh [--release bookworm|trixie|forky]   (as root; default bookworm,
#   Debian 12; trixie is Debian 13; forky, Debian testing, is tried by hand: its Release file is
#   accepted past its Valid-Until date, and it has no trayer, so the tray steps are skipped)
# Needs: debootstrap lintian dpkg-dev wget (scripts/bootstrap.sh --ci). Each command in the test
# system runs in mount and process namespaces of its own (unshare), the whole test in a mount
# namespace. Cache: $QUENLITOR_PACKAGE_CACHE, else /var/cache/quenlitor-package-test, one folder
# per release: the minimal and build systems (made again after 30 days), apt's lists and
# packages, so a second run downloads almost nothing and runs without the archive.
# QUENLITOR_DEBIAN_MIRROR chooses the archive (default http://deb.debian.org/debian).
set -uo pipefail
root_dir=$(cd "$(dirname "$0")/.." && pwd)
release=bookworm
while [[ $# -gt 0 ]]; do
    case $1 in
        --release) release=${2:-}; shift 2 || shift ;;
        *) echo "usage: $0 [--release bookworm|trixie|forky]" >&2; exit 2 ;;
    esac
done
case $release in
    bookworm) release_name="Debian 12" ;;
    trixie) release_name="Debian 13" ;;
    forky) release_name="Debian testing (forky)" ;;
    *) echo "usage: $0 [--release bookworm|trixie|forky]" >&2; exit 2 ;;
esac
suite=$release
cache_root=${QUENLITOR_PACKAGE_CACHE:-/var/cache/quenlitor-package-test}
cache=$cache_root/$release
mirror=${QUENLITOR_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${mirror%/debian}/debian-security
package=quenlitor-midi-texto
# shellcheck source=/dev/null
host_release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
tray_host=trayer
[[ $release == forky ]] && tray_host=

now_ms() { echo $(($(date +%s%N) / 1000000)); }
seconds() { awk -v ms="$1" 'BEGIN {printf "%.1f s", ms / 1000}'; }
test_started=$(now_ms)

fail_early() {
    echo "FAIL $*"
    exit 1
}
[[ $(id -u) -eq 0 ]] || fail_early "package-test needs root (debootstrap, chroot, mounts)"
tools=(debootstrap dpkg-deb unshare chroot wget timeout)
[[ $release == "$host_release" ]] && tools+=(cmake cpack lintian dpkg-shlibdeps)
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || fail_early "$tool is missing; run scripts/bootstrap.sh --ci"
done
# An older debootstrap does not know testing's codename: its unstable script makes it as well.
debootstrap_script=()
[[ -e /usr/share/debootstrap/scripts/$suite ]] || debootstrap_script=(/usr/share/debootstrap/scripts/sid)

if [[ ${QUENLITOR_PACKAGE_TEST_NAMESPACE:-} != 1 ]]; then
    QUENLITOR_PACKAGE_TEST_NAMESPACE=1 exec unshare --mount --propagation private -- "$BASH" "$0" --release "$release"
fi

work=$(mktemp -d /var/tmp/quenlitor-package-test.XXXXXX) || exit 1
system=$work/system
log=$work/step.log
mkdir "$system" || exit 1
# The test system (about 0.8 GB) in memory when there is room.
if (($(awk '/^MemAvailable:/ {print $2}' /proc/meminfo) > 3 * 1024 * 1024)); then
    mount -t tmpfs -o size=2g,mode=0755 quenlitor-package-test "$system" || exit 1
fi
cleanup() {
    umount "$system" 2>/dev/null
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# run_step NAME FUNCTION: its output in a log shown when it fails; $detail, which it may set, on
# the PASS line, or the reason of a SKIP line when it returns 77.
run_step() {
    local name=$1 function=$2 started status
    detail=
    started=$(now_ms)
    "$function" >"$log" 2>&1
    status=$?
    if ((status == 0)); then
        echo "PASS $name ($(seconds $(($(now_ms) - started))))${detail:+: $detail}"
    elif ((status == 77)); then
        echo "SKIP $name: $detail"
    else
        echo "FAIL $name ($(seconds $(($(now_ms) - started))))${detail:+: $detail}"
        if [[ -s $log ]]; then
            echo "--- the last lines of its output:"
            tail -n 40 "$log"
            echo "---"
        fi
        echo "package-test: failed after $(seconds $(($(now_ms) - test_started)))"
        exit 1
    fi
}

# in_root DIR [--offline] LIMIT COMMAND...: COMMAND in a system as root, bounded in time, with a
# clean environment, /proc, /dev and apt's cached lists and packages. --offline: a network
# namespace of its own, no network and X servers apart (abstract sockets are per namespace).
in_root() {
    local root=$1 network=()
    shift
    if [[ $1 == --offline ]]; then
        network=(--net)
        shift
    fi
    local limit=$1
    shift
    timeout --kill-after=10 "$limit" unshare "${network[@]}" --mount --pid --fork --kill-child -- /bin/bash -c '
        set -e
        system=$1 cache=$2
        shift 2
        mount -t proc proc "$system/proc"
        mount --rbind /dev "$system/dev"
        mount --bind "$cache/lists" "$system/var/lib/apt/lists"
        mount --bind "$cache/archives" "$system/var/cache/apt/archives"
        exec chroot "$system" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
            DEBIAN_FRONTEND=noninteractive "$@"' in-system "$root" "$cache" "$@"
}
in_system() { in_root "$system" "$@"; }
apt_options=(-o Acquire::http::Timeout=20 -o Acquire::Retries=2 -o Dpkg::Use-Pty=0)

archive_reachable() { timeout 30 wget -q -T 20 -t 1 -O /dev/null "$mirror/dists/$suite/Release"; }

# A copy of the minimal system ready for apt: the release's archive, no service started.
configure_apt() {
    local root=$1
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    if [[ $release == forky ]]; then
        printf 'deb %s %s main\n' "$mirror" "$suite" >"$root/etc/apt/sources.list"
        echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/80package-test"
    else
        printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
            "$mirror" "$suite" "$mirror" "$suite" "$security" "$suite" >"$root/etc/apt/sources.list"
        : >"$root/etc/apt/apt.conf.d/80package-test"
    fi
    printf '%s\n' 'APT::Sandbox::User "root";' 'Dpkg::Options { "--force-unsafe-io"; };' \
        >>"$root/etc/apt/apt.conf.d/80package-test"
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d" && chmod 0755 "$root/usr/sbin/policy-rc.d"
}

# fresh NAME: $cache/NAME must be (re)made (none, or 30 days old) and the archive is reachable; 2
# when it must and cannot be.
fresh() {
    local made=$cache/$1.done
    [[ ! -f $made ]] || [[ -n $(find "$made" -mtime +30) ]] || return 1
    if archive_reachable; then
        return 0
    elif [[ -f $made ]]; then
        echo "the archive ($mirror) cannot be reached: keeping the old $1 in $cache"
        return 1
    fi
    detail="Debian's archive ($mirror) cannot be reached and $cache holds no $1"
    return 2
}

step_minbase() {
    mkdir -p "$cache/archives/partial" "$cache/lists/partial" || return 1
    local base=$cache/minbase status
    fresh minbase
    status=$?
    ((status == 2)) && return 1
    if ((status == 0)); then
        rm -rf --one-file-system "$base" "$base.new" "$base.done"
        timeout --kill-after=10 1200 unshare --mount --fork --kill-child -- \
            debootstrap --variant=minbase "$suite" "$base.new" "$mirror" "${debootstrap_script[@]}" || return 1
        mv "$base.new" "$base" && touch "$base.done" || return 1
        detail="made: $(du -sm "$base" | cut -f1) MB, Debian $(cat "$base/etc/debian_version")"
    else
        detail="cached: Debian $(cat "$base/etc/debian_version")"
    fi
}
run_step "minimal $release_name system (debootstrap --variant=minbase $suite)" step_minbase

build_root=
if [[ $release == "$host_release" ]]; then
    step_build() {
        cd "$root_dir" && nice -n 10 cmake --workflow --preset package || return 1
        build=$root_dir/build/release
    }
else
    build_root=$cache/build
    # The checkout without its build trees; the build system's build tree is kept, so unchanged
    # files keep their times and the build redoes only what changed.
    copy_checkout() {
        local into=$build_root/root/quenlitor
        mkdir -p "$into" || return 1
        find "$into" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} + || return 1
        if git -C "$root_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
            (cd "$root_dir" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -) | tar -xf - -C "$into"
        else
            tar -C "$root_dir" --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$into"
        fi
    }
    step_build() {
        local status
        fresh build
        status=$?
        ((status == 2)) && return 1
        if ((status == 0)); then
            rm -rf --one-file-system "$build_root" "$build_root.done"
            cp -a "$cache/minbase" "$build_root" || return 1
            configure_apt "$build_root"
            in_root "$build_root" 300 apt-get "${apt_options[@]}" update || return 1
        fi
        copy_checkout || return 1
        in_root "$build_root" 3600 /bin/bash -c "cd /root/quenlitor && scripts/bootstrap.sh &&
            apt-get ${apt_options[*]} install -y -qq --no-install-recommends lintian >/dev/null &&
            nice -n 10 cmake --workflow --preset package" || return 1
        [[ -f $build_root.done ]] || touch "$build_root.done"
        build=$build_root/root/quenlitor/build/release
    }
fi
run_step "build the package on $release_name" step_build

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package_version=$(sed -n 's/^QUENLITOR_PACKAGE_VERSION:INTERNAL=//p' "$build/CMakeCache.txt")
deb=$build/${package}_${package_version}_amd64.deb
step_found() {
    [[ -n $package_version && -f $deb ]] || { echo "no $deb after the package workflow"; return 1; }
    detail="$(basename "$deb"), $(stat -c %s "$deb") bytes, $(dpkg-deb -f "$deb" Installed-Size) KiB installed; Depends: $(dpkg-deb -f "$deb" Depends)"
}
run_step "the package" step_found

step_lintian() {
    # No error and no warning, by the release's own lintian.
    local status
    if [[ -n $build_root ]]; then
        in_root "$build_root" --offline 300 lintian --fail-on error,warning "/root/quenlitor/build/release/$(basename "$deb")"
    else
        lintian --fail-on error,warning "$deb"
    fi
    status=$?
    detail="no error or warning (lintian $(if [[ -n $build_root ]]; then in_root "$build_root" --offline 30 lintian --version; else lintian --version; fi | awk '{print $2}'))"
    return $status
}
run_step "lintian" step_lintian

step_system() {
    cp -a "$cache/minbase/." "$system/" || return 1
    configure_apt "$system"
    detail="$(du -sm "$system" | cut -f1) MB, Debian $(cat "$system/etc/debian_version")"
}
run_step "a clean minimal $release_name system" step_system

step_install() {
    mkdir -p "$system/tmp/paquete" && cp "$deb" "$system/tmp/paquete/" || return 1
    if ! in_system 300 apt-get "${apt_options[@]}" update; then
        # Without the archive, the lists and packages of an earlier run still do.
        archive_reachable && return 1
        echo "the archive cannot be reached: installing from the cached lists and packages"
    fi
    local before
    before=$(in_system 30 dpkg-query -W -f='${db:Status-Abbrev}\n' | grep -c '^ii')
    in_system 900 /bin/sh -c "cd /tmp/paquete && apt-get ${apt_options[*]} install -y ./$(basename "$deb")" || return 1
    in_system 30 dpkg-query -W -f='${Status}\n' "$package" | grep -qx 'install ok installed' || return 1
    detail="with $(($(in_system 30 dpkg-query -W -f='${db:Status-Abbrev}\n' | grep -c '^ii') - before - 1)) packages it needs"
}
run_step "apt-get install ./$(basename "$deb")" step_install

test_tools=(man-db xvfb $tray_host xdotool x11-utils imagemagick)
step_tools() { in_system 900 apt-get "${apt_options[@]}" install -y --no-install-recommends "${test_tools[@]}"; }
run_step "test tools in the system (${test_tools[*]})" step_tools

step_commands() {
    # expect PATTERN COMMAND...: COMMAND's output in the system matches PATTERN (bash's [[ == ]]).
    # The checkout is not there: the dictionary the tool finds is the installed one.
    expect() {
        local pattern=$1 out
        shift
        out=$(in_system --offline 30 "$@") || return 1
        echo "$*: $out"
        [[ $out == $pattern ]] || { echo "expected: $pattern"; return 1; }
    }
    expect "quenlitor-tokens $version" quenlitor-tokens --version &&
        expect "quenlitor-midi-texto $version" quenlitor-midi-texto --version &&
        expect '"Cmaj7" C4 E G B .' quenlitor-tokens token 60 64 67 71 &&
        expect '[1-9]*([0-9])' quenlitor-tokens check-dictionary &&
        expect $'/usr/share/man/man1/quenlitor-tokens.1.gz\n/usr/share/man/man1/quenlitor-midi-texto.1.gz' \
            man -w quenlitor-tokens quenlitor-midi-texto || return 1
    detail="version $version, \"Cmaj7\" C4 E G B ., $(grep -o '^quenlitor-tokens check-dictionary: [0-9]*' "$log" | grep -o '[0-9]*$') chords, both manual pages found"
}
run_step "--version, quenlitor-tokens and man in the system" step_commands

step_tray() {
    if [[ -z $tray_host ]]; then
        detail="trayer is not in $release_name"
        return 77
    fi
    cp "$root_dir/scripts/tray-smoke-test.sh" "$system/tmp/" || return 1
    in_system --offline 300 /tmp/tray-smoke-test.sh --installed /usr
    local status=$?
    detail="Qt $(in_system --offline 30 dpkg-query -W -f='${Version}' 'libqt6core6*'), $(grep -c '^PASS' "$log") checks passed"
    return $status
}
run_step "the tray smoke test on the installed package (scripts/tray-smoke-test.sh)" step_tray

step_purge() {
    in_system 300 apt-get "${apt_options[@]}" purge -y "$package" || return 1
    in_system 30 dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q 'install ok' && return 1
    local left=() path
    while read -r path; do
        [[ -e $system/$path || -L $system/$path ]] && left+=("$path")
    done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|; /[^/]$/p')
    # The application's home and runtime folders were under /tmp.
    while read -r path; do
        left+=("${path#"$system"}")
    done < <(find "$system" -xdev -path "$system/tmp" -prune -o -name '*quenlitor*' -print)
    in_system 120 apt-get "${apt_options[@]}" autoclean >/dev/null
    if ((${#left[@]} > 0)); then
        printf 'left behind: %s\n' "${left[@]}"
        detail="${#left[@]} files left behind"
        return 1
    fi
    detail="no file of it left"
}
run_step "apt-get purge $package" step_purge

cleanup
trap - EXIT
echo "package-test: all steps passed in $(seconds $(($(now_ms) - test_started)))"
