#!/usr/bin/env bash
# The installed application under an XEmbed tray (Debian's trayer) on Xvfb, with a temporary home:
# --help and --version without a display; a tray that comes later takes the application from its
# window; its icon docks as a 22x22 window and is drawn, legible on dark and light panels; a right
# click opens a drawn menu that Escape closes; a second start exits at once; the tray gone, the
# window comes 5 to 7 s later and the tray back takes it again; SIGTERM ends it with status 0. The
# window without a tray, a second start focusing it and SIGTERM during the wait for a tray are
# the desktop sessions' and tray-faults-test.sh's (the same code whatever the tray). Everything
# started is stopped by process id.
#
# Usage: scripts/tray-smoke-test.sh [--screenshots DIR] [--footprint] BUILD_DIR | --installed PREFIX
#   BUILD_DIR          installed into a temporary prefix; --installed: as installed in PREFIX
#   --screenshots DIR  also saves DIR/bandeja.png (the tray with the icon) and DIR/menu.png
#   --footprint        then measures start-up to the icon docked (the median of
#                      QUENLITOR_FOOTPRINT_RUNS, default 9, after a warm-up), the memory after 5 s
#                      idle and the context switches over 10 s idle (60 s more with
#                      QUENLITOR_FOOTPRINT_LONG=1)
# Needs the packages of scripts/bootstrap.sh --ci; no MIDI sequencer.
set -uo pipefail
screenshots= prefix=
footprint=0
usage="usage: $0 [--screenshots DIR] [--footprint] BUILD_DIR | --installed PREFIX"
while [[ $# -gt 0 ]]; do
  case $1 in
    --screenshots) screenshots=${2:?--screenshots needs a directory}; shift 2 ;;
    --footprint) footprint=1; shift ;;
    --installed) prefix=${2:?--installed needs a prefix}; shift 2 ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) break ;;
  esac
done
[[ $# -eq 1 || ( -n $prefix && $# -eq 0 ) ]] || { echo "$usage" >&2; exit 2; }
[[ -n $prefix ]] || build=$(cd "$1" && pwd) || exit 2
if [[ -n $screenshots ]]; then
  mkdir -p "$screenshots" && screenshots=$(cd "$screenshots" && pwd) || exit 2
fi

tools=(Xvfb trayer xdotool xwininfo import identify convert timeout)
[[ -n $prefix ]] || tools+=(cmake)
[[ $footprint -eq 1 ]] && tools+=(/usr/bin/time)
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || { echo "FAIL $tool is missing; run scripts/bootstrap.sh --ci"; exit 1; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tray-smoke.XXXXXX")
xvfb_pid=
trayer_pid=
app_pid=
app_err=$tmp/app.err
failed=0

stop() {
  local pid=$1
  [[ -n $pid ]] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  until_ms 2000 ended "$pid"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

cleanup() {
  stop "$app_pid"; app_pid=
  stop "$trayer_pid"
  stop "$xvfb_pid"
  [[ $failed -ne 0 ]] && { echo "--- the application's standard error:"; cat "$app_err"; echo "---"; }
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

pass() { echo "PASS $*"; }
fail() {
  echo "FAIL $*"
  failed=1
  exit 1
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# until_ms MS COMMAND...: COMMAND until it succeeds, for up to MS milliseconds.
until_ms() {
  local deadline=$(($(now_ms) + $1))
  shift
  until "$@"; do
    (($(now_ms) < deadline)) || return 1
    sleep 0.01
  done
}

# A zombie still answers kill -0: whether the process runs, as its state says.
running() { [[ -r /proc/$1/stat ]] && ! awk '{exit $3 != "Z"}' "/proc/$1/stat" 2>/dev/null; }

ended() { ! running "$1"; }
# Waits up to $1 seconds for process $2 to end; its exit status is in $exit_status.
wait_exit() {
  until_ms $(($1 * 1000)) ended "$2" || return 1
  wait "$2"
  exit_status=$?
}

if [[ -z $prefix ]]; then
  prefix=$tmp/prefix
  cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log"; fail "cmake --install $build"; }
fi
app=$prefix/bin/quenlitor-midi-texto
for file in bin/quenlitor-midi-texto share/quenlitor-midi-texto/diccionario_acordes.json \
  share/applications/quenlitor-midi-texto.desktop share/icons/hicolor/scalable/apps/quenlitor-midi-texto.svg; do
  [[ -e $prefix/$file ]] || fail "the installation lacks $file"
done
pass "installed in $prefix"

version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$app" --version 2>&1) || fail "--version ended with status $?"
[[ $version =~ ^quenlitor-midi-texto\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed: $version"
env -u DISPLAY -u WAYLAND_DISPLAY "$app" --help | grep -q '^Uso: quenlitor-midi-texto' || fail "--help printed no usage"
pass "--version prints \"$version\" and --help the usage, both without a display"

# -noreset: a server that resets when its last client leaves refuses those connecting meanwhile.
Xvfb -displayfd 3 -screen 0 640x400x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.err" &
xvfb_pid=$!
until_ms 5000 test -s "$tmp/display" || { cat "$tmp/xvfb.err"; fail "Xvfb did not start"; }
DISPLAY=:$(head -n 1 "$tmp/display")
export DISPLAY
pass "Xvfb on display $DISPLAY"

mkdir -p "$tmp/home" "$tmp/config" "$tmp/data" "$tmp/runtime"
chmod 0700 "$tmp/runtime"
session=(env -i PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$DISPLAY" HOME="$tmp/home"
  XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp/runtime"
  XDG_DATA_DIRS="$prefix/share")

# $@: what runs the application (/usr/bin/time).
start_app() {
  "${session[@]}" "$@" "$app" 2>>"$app_err" &
  app_pid=$!
}

# The tray host: a panel on the top right, tinted $1.
start_trayer() {
  "${session[@]}" trayer --edge top --align right --widthtype pixel --width 160 --height 24 \
    --SetDockType true --transparent true --alpha 0 --tint "$1" >"$tmp/trayer.log" 2>&1 &
  trayer_pid=$!
}

shown_window() { xdotool search --onlyvisible --name '^Quenlitor MIDI a Texto$' 2>/dev/null | head -n 1; }
# Waits up to $1 ms for the window to be shown ($2 = 1) or gone ($2 = 0); its id is in $window.
window_is() { window=$(shown_window); [[ ($1 -eq 1 && -n $window) || ($1 -eq 0 && -z $window) ]]; }
wait_window() { until_ms "$1" window_is "$2"; }

start_app
wait_window 10000 1 || fail "without a tray no window appeared within 10 s"

start_trayer 0xdddddd
find_panel() { panel=$(xdotool search --classname '^panel$' 2>/dev/null | head -n 1); [[ -n $panel ]]; }
until_ms 5000 find_panel || { cat "$tmp/trayer.log"; fail "trayer did not show its panel"; }
pass "trayer's panel is window $panel"
# A desktop colour for the screenshots rather than Xvfb's black. ImageMagick's display sets the
# root window's background and leaves; set before trayer starts, it would be lost.
[[ -n $screenshots ]] && { display -window root -size 640x400 'xc:#4f5b66' >/dev/null 2>&1 || true; }

# The application's icons docked in the panel: one window id per line; docked: the first in $icon.
docked_icons() {
  xwininfo -tree -id "$panel" 2>/dev/null | awk '/\("quenlitor-midi-texto" "[^"]*"\) +22x22\+/ {print $1}'
}
docked() { icon=$(docked_icons | head -n 1); [[ -n $icon ]]; }

# The application's top-level windows that are shown, as "id x y width height" lines.
shown_windows() {
  local id
  for id in $(xwininfo -root -children 2>/dev/null | awk '/\("quenlitor-midi-texto" "quenlitor-midi-texto"\)/ {print $1}'); do
    xwininfo -id "$id" 2>/dev/null | awk -v id="$id" '
      /Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
      /Width:/ {w = $NF} /Height:/ {h = $NF} /Map State: IsViewable/ {shown = 1}
      END {if (shown) print id, x, y, w, h}'
  done
}

# Waits up to 5 s for the application's icon to dock in the panel (found again, as it may be
# new); then the window must be gone. The icon is in $icon, the wait in $elapsed ms.
wait_docked_not_window() {
  local since=$(now_ms)
  until_ms 5000 eval 'find_panel && docked' || fail "$1: the icon did not dock within 5 s"
  elapsed=$(($(now_ms) - since))
  wait_window 2000 0 || fail "$1: the window stayed on screen after the icon docked"
}

wait_docked_not_window "a tray that comes later"
pass "a tray that comes later takes the application from its window: icon docked after $elapsed ms"
stop "$app_pid"
app_pid=

started=$(now_ms)
start_app
until_ms 10000 docked || fail "the icon did not dock in the tray within 10 s"
pass "the icon docks in the tray as a 22x22 window ($icon) after $(($(now_ms) - started)) ms"
sleep 0.3
import -silent -window "$icon" "$tmp/icon.png" || fail "no screenshot of the icon"
colours=$(identify -format '%k' "$tmp/icon.png")
((colours > 1)) || fail "the icon is blank (one colour)"
pass "the icon is drawn ($colours colours)"

# Legible on dark and light panels: an XEmbed tray tells the application nothing of its colour.
# The share of the icon's pixels that stand out from the panel by a contrast ratio of 3:1 or more.
legible_share() {
  local hex=$1
  # In sRGB: ImageMagick 7 (Debian 13) prints a grey picture's pixels with one value, not three.
  convert "$2" -colorspace sRGB -depth 8 txt:- | awk -v pr=$((16#${hex:0:2})) -v pg=$((16#${hex:2:2})) -v pb=$((16#${hex:4:2})) '
    function lin(c) { c /= 255; return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ^ 2.4 }
    function lum(r, g, b) { return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b) }
    BEGIN { lp = lum(pr, pg, pb) + 0.05 }
    /^[0-9]/ { colour = $2; gsub(/[()]/, "", colour); split(colour, c, ",")
      if ((c[1] - pr) ^ 2 + (c[2] - pg) ^ 2 + (c[3] - pb) ^ 2 < 64) next
      icon++; l = lum(c[1], c[2], c[3]) + 0.05
      if ((l > lp ? l / lp : lp / l) >= 3) legible++ }
    END { printf "%d %d\n", icon, legible }'
}
for panel_colour in 202020 f0f0f0; do
  stop "$app_pid"; app_pid=
  stop "$trayer_pid"
  start_trayer "0x$panel_colour"
  until_ms 5000 find_panel && start_app && until_ms 10000 docked ||
    fail "the icon did not dock again in a #$panel_colour panel within 10 s"
  sleep 0.3
  import -silent -window "$icon" "$tmp/icon-$panel_colour.png" || fail "no screenshot of the icon on #$panel_colour"
  read -r drawn legible < <(legible_share "$panel_colour" "$tmp/icon-$panel_colour.png")
  ((drawn >= 40)) || fail "on a #$panel_colour panel only $drawn pixels of the icon differ from the panel"
  ((legible * 100 >= drawn * 35)) ||
    fail "on a #$panel_colour panel only $legible of the icon's $drawn pixels stand out by 3:1"
  pass "on a #$panel_colour panel $legible of the icon's $drawn pixels stand out by 3:1 or more"
done

xdotool mousemove --window "$icon" 11 11 click 3
menu_shown() { menu=$(shown_windows | awk '$4 >= 100 && $5 >= 100' | head -n 1); [[ -n $menu ]]; }
until_ms 5000 menu_shown || fail "no menu window appeared after a right click on the icon"
read -r menu_id menu_x menu_y menu_width menu_height <<<"$menu"
pass "a right click opens the menu: window $menu_id, ${menu_width}x${menu_height} at $menu_x,$menu_y"
sleep 0.3
import -silent -window "$menu_id" "$tmp/menu.png" || fail "no screenshot of the menu"
colours=$(identify -format '%k' "$tmp/menu.png")
((colours > 1)) || fail "the menu's screenshot is blank (one colour)"
pass "the menu is drawn ($colours colours)"
# Both screenshots show the top right corner of the screen, from the menu's left edge: with the
# menu down to a little below it, without it the panel's strip.
left=$((menu_x > 8 ? menu_x - 8 : 0))
[[ -n $screenshots ]] &&
  import -silent -window root -crop "$((640 - left))x$((menu_y + menu_height + 8))+${left}+0" +repage "$screenshots/menu.png"
xdotool key Escape
until_ms 3000 eval '[[ -z $(shown_windows | awk -v id="$menu_id" "\$1 == id") ]]' || fail "Escape did not close the menu"
pass "Escape closes the menu"
if [[ -n $screenshots ]]; then
  # Away from the icon, so that no tool tip opens.
  xdotool mousemove 20 380
  sleep 0.3
  import -silent -window root -crop "$((640 - left))x40+${left}+0" +repage "$screenshots/bandeja.png"
  pass "screenshots saved: $screenshots/bandeja.png $screenshots/menu.png"
fi

second_started=$(now_ms)
timeout 10 "${session[@]}" "$app" 2>>"$app_err"
status=$?
elapsed=$(($(now_ms) - second_started))
[[ $status -eq 0 ]] || fail "the second start ended with status $status (124: still running after 10 s)"
((elapsed < 2000)) || fail "the second start took $elapsed ms to quit"
running "$app_pid" || fail "the first instance stopped when the second started"
icons=$(docked_icons | wc -l)
[[ $icons -eq 1 ]] || fail "$icons icons in the tray after the second start"
pass "a second start exits with status 0 after $elapsed ms; the first keeps running with its one icon"
[[ -z $(shown_window) ]] || fail "with a tray a second start showed the window"

stop "$trayer_pid"
lost=$(now_ms)
wait_window 10000 1 || fail "no window within 10 s of the tray going away"
elapsed=$(($(now_ms) - lost))
((elapsed >= 4500 && elapsed <= 7000)) || fail "the window came $elapsed ms after the tray went, not 5 to 7 s"
pass "the tray gone, the window appears after $elapsed ms"
start_trayer 0xdddddd
wait_docked_not_window "the tray back"
pass "the tray back, the icon docks again after $elapsed ms and the window goes"

terminated=$(now_ms)
kill -TERM "$app_pid"
wait_exit 2 "$app_pid" || fail "SIGTERM did not end the application within 2 s"
elapsed=$(($(now_ms) - terminated))
app_pid=
[[ $exit_status -eq 0 ]] || fail "after SIGTERM the exit status is $exit_status"
pass "SIGTERM ends it with status 0 after $elapsed ms"
[[ -z $(docked_icons) ]] || fail "the icon stayed in the tray after the application ended"

if [[ $footprint -eq 1 ]]; then
  runs=${QUENLITOR_FOOTPRINT_RUNS:-9}
  times=()
  for run in $(seq 0 "$runs"); do
    started=$(now_ms)
    start_app
    until_ms 10000 docked || fail "start-up run $run: the icon did not dock within 10 s"
    ((run > 0)) && times+=($(($(now_ms) - started)))
    kill -TERM "$app_pid"
    wait_exit 5 "$app_pid" || fail "start-up run $run did not end"
    app_pid=
  done
  sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
  echo "FOOTPRINT start-up to icon docked, warm: median $median ms over $runs runs (ms: $sorted)"

  start_app /usr/bin/time -v -o "$tmp/time.txt"
  timer_pid=$app_pid
  until_ms 10000 docked || fail "the application under /usr/bin/time did not dock"
  pid=
  read -r pid _ <"/proc/$timer_pid/task/$timer_pid/children"
  [[ -n $pid ]] || fail "no application process under /usr/bin/time"
  # Stopping the application ends /usr/bin/time too; stopping time first would orphan it.
  app_pid=$pid
  sleep 5
  switches() {
    cat /proc/"$pid"/task/*/status 2>/dev/null | awk '/^(non)?voluntary_ctxt_switches/ {n += $2} END {print n}'
  }
  rss=$(awk '/^VmRSS/ {print $2, $3}' "/proc/$pid/status")
  threads=$(awk '/^Threads/ {print $2}' "/proc/$pid/status")
  at5=$(switches)
  sleep 10
  at15=$(switches)
  echo "FOOTPRINT resident memory after 5 s idle (VmRSS): $rss; $threads threads"
  echo "FOOTPRINT context switches of all threads, idle 5 s to 15 s after the icon docked: $((at15 - at5))"
  if [[ -n ${QUENLITOR_FOOTPRINT_LONG:-} ]]; then
    sleep 60
    echo "FOOTPRINT context switches of all threads, idle 15 s to 75 s after the icon docked: $(($(switches) - at15))"
  fi
  kill -TERM "$pid"
  wait_exit 5 "$timer_pid" || fail "the application under /usr/bin/time did not end"
  app_pid=
  echo "FOOTPRINT /usr/bin/time -v: $(grep -E 'Maximum resident set size' "$tmp/time.txt" | sed 's/^[[:space:]]*//')"
fi

if [[ -s $app_err ]]; then
  echo "NOTE the application wrote to standard error:"
  cat "$app_err"
fi
echo "tray-smoke-test: all checks passed"
