# Sourced by the session scripts of this folder, with `tag` and `dir` set: what each of them
# starts goes into `pids` and is ended, by process id, when the script exits, the session bus
# included; `fail` prints the FAIL and DONE lines with the tail of every log under DIR and exits;
# `ms` is the time in milliseconds; `wait_for_watcher HOST` waits for HOST's StatusNotifierWatcher. What the session's programs started in turn (services the bus
# started, daemons that left their parent) is found by its environment, which names the session's
# runtime folder DIR/runtime, and ended with them.
pids=()
session_processes() {
  local file pid entry
  for file in /proc/[0-9]*/environ; do
    pid=${file#/proc/}
    pid=${pid%/environ}
    ((pid == $$ || pid == BASHPID)) && continue
    while IFS= read -r -d '' entry; do
      [[ $entry == "XDG_RUNTIME_DIR=$dir/runtime" ]] && { echo "$pid"; break; }
    done 2>/dev/null <"$file"
  done
}
finish() {
  local pid found
  # (Not through a process substitution: the virtual machine of desktop-vm-test.sh has no /dev/fd.)
  found=$(session_processes)
  for pid in $found; do
    pids+=("$pid")
  done
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null
  done
  sleep 0.2
  for pid in "${pids[@]}"; do
    kill -KILL "$pid" 2>/dev/null
  done
  [[ -n ${DBUS_SESSION_BUS_PID:-} ]] && kill -TERM "$DBUS_SESSION_BUS_PID" 2>/dev/null
}
trap finish EXIT
fail() {
  echo "$tag FAIL $*"
  echo "$tag DONE failed"
  for log in "$dir"/*.log; do
    [[ -s $log ]] && sed "s|^|$tag LOG $(basename "$log"): |" "$log" | tail -n 20
  done
  exit 1
}
ms() { echo $(($(date +%s%N) / 1000000)); }

# Waits up to 120 s for a StatusNotifierWatcher on the session bus, provided by HOST (its name in
# the lines), and prints how long it took; fails otherwise.
wait_for_watcher() {
  local host=$1 started
  started=$(ms)
  for _ in $(seq 1200); do
    if gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner \
      org.kde.StatusNotifierWatcher 2>/dev/null | grep -q true; then
      echo "$tag FIGURE $host's StatusNotifierWatcher ready after $(($(ms) - started)) ms"
      return 0
    fi
    sleep 0.1
  done
  fail "$host did not provide a StatusNotifierWatcher within 120 s"
}
