#!/usr/bin/env bash
# Runs every fuzz harness of a fuzz build for a bounded time each.
# Usage: tools/run-fuzzers.sh BUILD_DIR SECONDS [HARNESS...]
# Each harness grows its corpus in BUILD_DIR/corpus/<name> (seeded from
# tests/fuzz/corpus/<name> when present); a failing input is saved as
# BUILD_DIR/artifacts/<name>-crash-... and stops the run with status 1.
set -euo pipefail

build=$1
seconds=$2
shift 2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -gt 0 ]; then
  harnesses=("$@")
else
  mapfile -t harnesses < "$build/tests/fuzz/fuzzers.txt"
fi

mkdir -p "$build/artifacts"
for name in "${harnesses[@]}"; do
  [ -n "$name" ] || continue
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$source_dir/tests/fuzz/corpus/$name" ] && seeds+=("$source_dir/tests/fuzz/corpus/$name")
  echo "fuzz: $name for ${seconds}s"
  "$build/tests/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" "$corpus" "${seeds[@]}" 2>"$build/$name.log" ||
    { tail -n 40 "$build/$name.log" >&2; echo "fuzz: $name failed (log: $build/$name.log)" >&2; exit 1; }
  grep -E '^stat::number_of_executed_units' "$build/$name.log" | sed "s/^/fuzz: $name /" || true
done
echo "fuzz: all ${#harnesses[@]} harnesses ran ${seconds}s each without a failure"
