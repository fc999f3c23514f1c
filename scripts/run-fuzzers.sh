#!/usr/bin/env bash
# Runs every fuzz target in BINDIR for SECONDS each, starting from its seed corpus in fuzz/corpus/
# (left untouched: new inputs go to a scratch directory). Fails on the first crash or leak.
# Usage: scripts/run-fuzzers.sh BINDIR [SECONDS]
set -euo pipefail
bindir=$1
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

found=0
for fuzzer in "$bindir"/fuzz_*; do
  [[ -x "$fuzzer" ]] || continue
  found=1
  name=$(basename "$fuzzer")
  seeds="$root/fuzz/corpus/${name#fuzz_}"
  mkdir -p "$scratch/$name"
  echo "== $name for ${seconds}s"
  corpora=("$scratch/$name")
  [[ -d "$seeds" ]] && corpora+=("$seeds")
  set +e
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$scratch/" "${corpora[@]}" > "$scratch/$name.log" 2>&1
  status=$?
  set -e
  tail -n 12 "$scratch/$name.log"
  if [[ $status -ne 0 ]]; then
    echo "$name failed (status $status); reproducer:" >&2
    ls "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$scratch"/oom-* 2>/dev/null >&2 || true
    exit 1
  fi
done
[[ $found -eq 1 ]] || { echo "no fuzz targets in $bindir" >&2; exit 1; }
