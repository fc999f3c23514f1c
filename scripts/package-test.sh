#!/usr/bin/env bash
# The Debian package on a system that has never seen the project, for one Debian release: builds
# the package (the `package` workflow preset) and checks it with that release's lintian; makes a
# minimal system of the release with debootstrap; installs the package there with apt, which
# fetches every dependency from Debian's archive as on a user's machine; asks both programs for
# --version, runs the tool and looks up the manual pages; starts the tray application under Xvfb
# with trayer as the tray host, checks that its icon docks and that SIGTERM ends it with status 0;
# purges the package and checks that none of its files is left. Prints a PASS or FAIL line per
# step with the time it took.
#
# On the machine's own release the package is built here. For another release it is built in a
# second minimal system of that release, made once and kept: the project's scripts/bootstrap.sh
# installs that release's packages there, the `package` workflow builds, lintian checks, and the
# tray smoke test (scripts/tray-smoke-test.sh) runs the application on that release's Qt.
#
# Usage: scripts/package-test.sh [--release bookworm|trixie|forky]   (as root: debootstrap,
#   chroot and mounts need it; default bookworm, Debian 12; trixie is Debian 13; forky, Debian
#   testing, is tried by hand: its Release file as these machines get it is past its Valid-Until
#   date, which apt is told to accept there, and trayer is not in it, so the tray steps are skipped)
# Needs: debootstrap lintian dpkg-dev wget and the build's packages; scripts/bootstrap.sh --ci
# installs them. The test and each command in the test system run in mount (and process)
# namespaces of their own (unshare), so that their mounts and processes end with them, whatever
# the outcome.
#
# Cache, outside the checkout: $QUENLITOR_PACKAGE_CACHE, else /var/cache/quenlitor-package-test,
# one folder per release. It keeps the debootstrapped system (made again after 30 days), the build
# system with its build tree (likewise), and apt's package lists and downloaded packages, so that
# a second run downloads almost nothing and builds only what changed; with a cache the test also
# runs while the archive cannot be reached. QUENLITOR_DEBIAN_MIRROR chooses the archive (default
# http://deb.debian.org/debian; security updates come from its -security sibling).
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
# The XEmbed tray host of the tray checks; Debian testing has none at present.
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
# This machine's debootstrap knows testing's codename only when it is newer than the codename;
# Debian's unstable script makes testing as well.
debootstrap_script=()
[[ -e /usr/share/debootstrap/scripts/$suite ]] || debootstrap_script=(/usr/share/debootstrap/scripts/sid)

# The whole test runs in a mount namespace of its own: whatever it mounts goes away with it,
# however it ends.
if [[ ${QUENLITOR_PACKAGE_TEST_NAMESPACE:-} != 1 ]]; then
    QUENLITOR_PACKAGE_TEST_NAMESPACE=1 exec unshare --mount --propagation private -- "$BASH" "$0" --release "$release"
fi

work=$(mktemp -d /var/tmp/quenlitor-package-test.XXXXXX) || exit 1
system=$work/system
log=$work/step.log
mkdir "$system" || exit 1
# The test system is thrown away: in memory when there is room (about 0.8 GB), it is written and
# removed many times faster than on disk.
if (($(awk '/^MemAvailable:/ {print $2}' /proc/meminfo) > 3 * 1024 * 1024)); then
    mount -t tmpfs -o size=2g,mode=0755 quenlitor-package-test "$system" || exit 1
fi
cleanup() {
    umount "$system" 2>/dev/null
    # The test system's own mounts lived in namespaces of their own: these are plain folders by
    # now, and --one-file-system keeps rm out of anything still mounted all the same.
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs one step: `run_step NAME FUNCTION`. The step's output goes to a log shown when it fails;
# the function may leave a summary in $detail for the PASS line, or return 77 with the reason in
# $detail for a SKIP line.
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

# Runs a command in a system as root (`in_root DIR [--offline] LIMIT COMMAND...`), bounded by
# LIMIT seconds, with a clean environment, /proc, /dev, and apt's lists and downloaded packages
# from the cache. With --offline the command also gets a network namespace of its own: no
# network, and X servers of its own, since an X server's abstract socket (@/tmp/.X11-unix/X0) is
# shared by every chroot in a network namespace and a client would reach the machine's display :0
# rather than the test's.
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
# The test system, where the package is installed.
in_system() { in_root "$system" "$@"; }
apt_options=(-o Acquire::http::Timeout=20 -o Acquire::Retries=2 -o Dpkg::Use-Pty=0)

archive_reachable() { timeout 30 wget -q -T 20 -t 1 -O /dev/null "$mirror/dists/$suite/Release"; }

# Prepares a copy of the minimal system for apt: the release's archive, the settings the test
# wants, no service started.
configure_apt() {
    local root=$1
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    if [[ $release == forky ]]; then
        # Testing as Debian's archive serves it to these machines: its Release file is past its
        # Valid-Until date.
        printf 'deb %s %s main\n' "$mirror" "$suite" >"$root/etc/apt/sources.list"
        echo 'Acquire::Check-Valid-Until "false";' >"$root/etc/apt/apt.conf.d/80package-test"
    else
        # Main, updates and security, as an installation of the release has them.
        printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
            "$mirror" "$suite" "$mirror" "$suite" "$security" "$suite" >"$root/etc/apt/sources.list"
        : >"$root/etc/apt/apt.conf.d/80package-test"
    fi
    # apt's downloads land in the cache, owned by root; the system is a test's, and dpkg need not
    # wait for each file to reach the disk.
    printf '%s\n' 'APT::Sandbox::User "root";' 'Dpkg::Options { "--force-unsafe-io"; };' \
        >>"$root/etc/apt/apt.conf.d/80package-test"
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d" && chmod 0755 "$root/usr/sbin/policy-rc.d"
}

# Makes `$cache/NAME` from the minimal system once, and again after 30 days: `fresh NAME` is
# true when it must be (re)made and the archive can be reached to do so.
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

# --- 1. The minimal system of the release, made once and copied for each use.
step_minbase() {
    mkdir -p "$cache/archives/partial" "$cache/lists/partial" || return 1
    local base=$cache/minbase status
    fresh minbase
    status=$?
    ((status == 2)) && return 1
    if ((status == 0)); then
        rm -rf --one-file-system "$base" "$base.new" "$base.done"
        # In a mount namespace of its own, so that the /proc and /sys it mounts in the new
        # system go away even if it is stopped halfway.
        timeout --kill-after=10 1200 unshare --mount --fork --kill-child -- \
            debootstrap --variant=minbase "$suite" "$base.new" "$mirror" "${debootstrap_script[@]}" || return 1
        mv "$base.new" "$base" && touch "$base.done" || return 1
        detail="made: $(du -sm "$base" | cut -f1) MB, Debian $(cat "$base/etc/debian_version")"
    else
        detail="cached: Debian $(cat "$base/etc/debian_version")"
    fi
}
run_step "minimal $release_name system (debootstrap --variant=minbase $suite)" step_minbase

# --- 2. The package, from a release build: here on the machine's own release, else in the
# release's build system with the packages the project's bootstrap script installs there.
build_root=
if [[ $release == "$host_release" ]]; then
    step_build() {
        cd "$root_dir" && nice -n 10 cmake --workflow --preset package || return 1
        build=$root_dir/build/release
    }
else
    build_root=$cache/build
    # The checkout as it is (without its build trees) into the build system, whose build tree is
    # kept: unchanged files keep their times, so the build redoes only what changed.
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
        # The tools of the lintian check and of the smoke test come from the release too.
        in_root "$build_root" 3600 /bin/bash -c "cd /root/quenlitor && scripts/bootstrap.sh &&
            apt-get ${apt_options[*]} install -y -qq --no-install-recommends lintian xvfb $tray_host xdotool x11-utils imagemagick >/dev/null &&
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
    # No error and no warning: a warning that has to stay is suppressed here with the reason
    # (none so far). The release's own lintian judges the release's package.
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

if [[ -n $build_root ]]; then
    # The tray smoke test on the release's Qt, in the build system: the icon docks, the menu opens
    # and is drawn, a second start exits at once, SIGTERM ends it.
    step_smoke() {
        if [[ -z $tray_host ]]; then
            detail="trayer is not in $release_name"
            return 77
        fi
        in_root "$build_root" --offline 300 /bin/bash -c 'cd /root/quenlitor && scripts/tray-smoke-test.sh build/release'
        local status=$?
        detail="Qt $(in_root "$build_root" --offline 30 dpkg-query -W -f='${Version}' 'libqt6core6*'), $(grep -c '^PASS' "$log") checks passed"
        return $status
    }
    run_step "tray smoke test on $release_name's Qt (scripts/tray-smoke-test.sh)" step_smoke
fi

# --- 3. The test system: a fresh copy of the minimal system.
step_system() {
    cp -a "$cache/minbase/." "$system/" || return 1
    configure_apt "$system"
    detail="$(du -sm "$system" | cut -f1) MB, Debian $(cat "$system/etc/debian_version")"
}
run_step "a clean minimal $release_name system" step_system

# --- 4. The package, with its dependencies from the archive.
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

# --- 5. The tool, its dictionary in its installed place and its manual page.
step_tools() {
    # man to look up the manual pages; Xvfb, trayer and the X tools for the tray check.
    in_system 900 apt-get "${apt_options[@]}" install -y --no-install-recommends man-db xvfb $tray_host xdotool x11-utils
}
run_step "test tools in the system (man-db xvfb${tray_host:+ $tray_host} xdotool x11-utils)" step_tools

step_commands() {
    local out
    out=$(in_system --offline 30 quenlitor-tokens --version) || return 1
    echo "quenlitor-tokens --version: $out"
    [[ $out == "quenlitor-tokens $version" ]] || { echo "expected: quenlitor-tokens $version"; return 1; }
    out=$(in_system --offline 30 quenlitor-midi-texto --version) || return 1
    echo "quenlitor-midi-texto --version: $out"
    [[ $out == "quenlitor-midi-texto $version" ]] || { echo "expected: quenlitor-midi-texto $version"; return 1; }
    # The source tree the tool was built from is not in this system: the dictionary it finds is
    # the installed one.
    out=$(in_system --offline 30 quenlitor-tokens token 60 64 67 71) || return 1
    echo "quenlitor-tokens token 60 64 67 71: $out"
    [[ $out == '"Cmaj7" C4 E G B .' ]] || { echo 'expected: "Cmaj7" C4 E G B .'; return 1; }
    out=$(in_system --offline 30 quenlitor-tokens check-dictionary) || return 1
    echo "quenlitor-tokens check-dictionary: $out"
    [[ $out =~ ^[1-9][0-9]*$ ]] || return 1
    local pages
    pages=$(in_system --offline 30 man -w quenlitor-tokens quenlitor-midi-texto) || return 1
    echo "man -w: $pages"
    [[ $pages == $'/usr/share/man/man1/quenlitor-tokens.1.gz\n/usr/share/man/man1/quenlitor-midi-texto.1.gz' ]] || return 1
    detail="version $version, \"Cmaj7\" C4 E G B ., $out chords, both manual pages found"
}
run_step "--version, quenlitor-tokens and man in the system" step_commands

# --- 6. The tray application: its icon docks in trayer's panel under Xvfb, SIGTERM ends it.
step_tray() {
    if [[ -z $tray_host ]]; then
        detail="trayer is not in $release_name"
        return 77
    fi
    # The smoke test's dock check: the application's 22x22 window inside trayer's panel.
    # Everything started here ends with the namespace when the script does.
    # The waits are generous: the first program to start in the new system also fills the font
    # cache, and CI machines are shared.
    in_system --offline 120 /bin/bash -s <<'EOF'
set -u
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# A zombie still answers kill -0: whether the process runs, as its state says.
running() { [[ -r /proc/$1/stat ]] && ! awk '{exit $3 != "Z"}' "/proc/$1/stat" 2>/dev/null; }
mkdir -p /tmp/bandeja/home /tmp/bandeja/runtime && chmod 0700 /tmp/bandeja/runtime
# -noreset: a server that resets when its last client (an xdotool query) leaves refuses the
# clients that connect meanwhile.
Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp -noreset 3>/tmp/bandeja/display 2>/tmp/bandeja/xvfb.err &
for _ in $(seq 100); do [[ -s /tmp/bandeja/display ]] && break; sleep 0.05; done
[[ -s /tmp/bandeja/display ]] || { cat /tmp/bandeja/xvfb.err; echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n 1 /tmp/bandeja/display) HOME=/tmp/bandeja/home XDG_RUNTIME_DIR=/tmp/bandeja/runtime
# Should trayer still say it "cannot open display" as it starts, it is started again, up to three
# times.
panel=
for attempt in 1 2 3; do
    trayer --edge top --align right --widthtype pixel --width 160 --height 24 --SetDockType true \
        >/tmp/bandeja/trayer.log 2>&1 &
    trayer=$!
    for _ in $(seq 200); do
        panel=$(xdotool search --classname '^panel$' 2>/dev/null | head -n 1)
        [[ -n $panel ]] && break 2
        running "$trayer" || break
        sleep 0.05
    done
    echo "trayer, attempt $attempt: $(tr '\n' ' ' </tmp/bandeja/trayer.log)"
    kill "$trayer" 2>/dev/null
done
[[ -n $panel ]] || { echo "trayer did not show its panel"; exit 1; }
docked_icons() {
    xwininfo -tree -id "$panel" 2>/dev/null | awk '/\("quenlitor-midi-texto" "[^"]*"\) +22x22\+/ {print $1}'
}
started=$(now_ms)
quenlitor-midi-texto 2>/tmp/bandeja/app.err &
app=$!
icon=
while (($(now_ms) - started < 30000)); do
    icon=$(docked_icons | head -n 1)
    [[ -n $icon ]] && break
    running "$app" || break
    sleep 0.01
done
[[ -n $icon ]] || { cat /tmp/bandeja/app.err; echo "the icon did not dock in the tray within 30 s"; exit 1; }
echo "docked: window $icon after $(($(now_ms) - started)) ms"
kill -TERM "$app"
wait "$app"
status=$?
[[ -s /tmp/bandeja/app.err ]] && { echo "the application's standard error:"; cat /tmp/bandeja/app.err; }
[[ $status -eq 0 ]] || { echo "after SIGTERM the exit status is $status"; exit 1; }
echo "SIGTERM: status 0"
EOF
    local status=$?
    detail=$(grep -E '^docked:' "$log" | sed 's/^docked: /icon docked as /')
    [[ $status -eq 0 ]] && detail+=", SIGTERM ends it with status 0"
    return $status
}
run_step "quenlitor-midi-texto docks in trayer under Xvfb" step_tray

# --- 7. Purge: none of the package's files, and nothing else of its name, is left.
step_purge() {
    in_system 300 apt-get "${apt_options[@]}" purge -y "$package" || return 1
    in_system 30 dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q 'install ok' && return 1
    local left=() path
    while read -r path; do
        [[ -e $system/$path || -L $system/$path ]] && left+=("$path")
    done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|; /[^/]$/p')
    # The application ran with its home and runtime folders under /tmp; the rest must be clean.
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

# Removing the test system is part of the time a run takes.
cleanup
trap - EXIT
echo "package-test: all steps passed in $(seconds $(($(now_ms) - test_started)))"
