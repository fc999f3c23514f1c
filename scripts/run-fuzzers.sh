#!/usr/bin/env bash
# Runs every fuzz target in BINDIR for SECONDS each from its seeds (fuzz/corpus/) with its
# dictionary (fuzz/dictionaries/); new inputs go to a scratch folder unless --merge folds those
# that reach new code into the seeds (before a release; commit what it adds). Fails when a target
# crashes, leaks, times out or runs out of memory, the input kept in BINDIR/../fuzz-artifacts/.
# Prints a line per target: executions, coverage (edges) and features.
#
# Usage: scripts/run-fuzzers.sh [--merge] [--jobs N] BINDIR [SECONDS]   (SECONDS defaults to 30)
# --jobs N runs N targets at a time (one core each).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
merge=0
jobs=1
while [[ $# -gt 0 && $1 == --* ]]; do
  case $1 in
    --merge) merge=1; shift ;;
    --jobs) jobs=$2; shift 2 ;;
    *) echo "run-fuzzers: unknown option $1" >&2; exit 2 ;;
  esac
done
[[ $# -ge 1 ]] || { echo "usage: scripts/run-fuzzers.sh [--merge] [--jobs N] BINDIR [SECONDS]" >&2; exit 2; }
bindir=$1
seconds=${2:-30}
[[ $jobs =~ ^[1-9][0-9]*$ ]] || { echo "run-fuzzers: --jobs takes a positive number" >&2; exit 2; }
artifacts=$(cd "$bindir/.." && pwd)/fuzz-artifacts
mkdir -p "$artifacts"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# One target: fuzz, then (with --merge) fold what it found into its seeds. Its output goes to
# $scratch/NAME.log, its exit status to $scratch/NAME.status.
fuzz_one() {
  local fuzzer=$1 name seeds dictionary status
  name=$(basename "$fuzzer")
  seeds=$root/fuzz/corpus/${name#fuzz_}
  dictionary=$root/fuzz/dictionaries/${name#fuzz_}.dict
  mkdir -p "$scratch/$name" "$seeds"
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
                 -artifact_prefix="$artifacts/$name-")
  [[ -f $dictionary ]] && options+=(-dict="$dictionary")
  set +e
  "$fuzzer" "${options[@]}" "$scratch/$name" "$seeds" > "$scratch/$name.log" 2>&1
  status=$?
  if [[ $status -eq 0 && $merge -eq 1 ]]; then
    local before
    before=$(find "$seeds" -type f | wc -l)
    "$fuzzer" -merge=1 -timeout=10 -rss_limit_mb=2048 "$seeds" "$scratch/$name" >> "$scratch/$name.log" 2>&1
    status=$?
    echo "merged: $(( $(find "$seeds" -type f | wc -l) - before )) new seeds" >> "$scratch/$name.log"
  fi
  set -e
  echo "$status" > "$scratch/$name.status"
}

summary() {
  local name=$1 log=$scratch/$1.log runs done_line
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1 || true)
  done_line=$(grep -E '^#[0-9]+\s+DONE' "$log" | tail -n 1 || true)
  echo "$name: ${runs:-?} executions in ${seconds} s; $(grep -o 'cov: [0-9]* ft: [0-9]*' <<< "$done_line" || echo 'no final coverage line')" \
       "$(grep -o 'merged: .*' "$log" || true)"
}

fuzzers=()
for fuzzer in "$bindir"/fuzz_*; do
  [[ -x $fuzzer ]] && fuzzers+=("$fuzzer")
done
[[ ${#fuzzers[@]} -gt 0 ]] || { echo "no fuzz targets in $bindir" >&2; exit 1; }

echo "== ${#fuzzers[@]} targets, ${seconds} s each, $jobs at a time$([[ $merge -eq 1 ]] && echo ', merging into fuzz/corpus')"
for fuzzer in "${fuzzers[@]}"; do
  while [[ $(jobs -rp | wc -l) -ge $jobs ]]; do
    wait -n || true
  done
  fuzz_one "$fuzzer" &
done
wait

failed=0
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer")
  summary "$name"
  if [[ $(cat "$scratch/$name.status" 2>/dev/null || echo 1) -ne 0 ]]; then
    failed=1
    tail -n 40 "$scratch/$name.log"
    echo "$name failed; what made it fail:" >&2
    ls "$artifacts/$name"-* >&2 2>/dev/null || true
  fi
done
exit $failed
