#!/bin/bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer, UBSan) into
# build/fuzz and runs each from its seed corpus in fuzz/corpus for a bounded
# time:   bash scripts/fuzz.sh [seconds-per-target]   (default 60)
# A crash or a broken property stops the script; the input that did it is
# kept in build/fuzz/crashes. Inputs found along the way are not kept.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
targets=(mask_file rule_file command_line match)
# Longest input per target: the readers fill a 4096-byte buffer, so their
# inputs must reach past it.
declare -A maxLength=([mask_file]=10000 [rule_file]=10000 [command_line]=4096 [match]=1300)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null

# The targets write their scratch files below TMPDIR: in memory where that
# is possible, since the readers are fed through real files.
shm=/dev/shm
[[ -d $shm && -w $shm ]] || shm=${TMPDIR:-/tmp}
work=$(mktemp -d "$shm/kelvo-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/crashes

for target in "${targets[@]}"; do
  mkdir -p "$work/$target/found" "$work/$target/tmp"
  log=build/fuzz/$target.log
  if ! TMPDIR=$work/$target/tmp "build/fuzz/fuzz/${target}_fuzzer" -max_total_time="$seconds" \
      -max_len="${maxLength[$target]}" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/crashes/$target-" \
      "$work/$target/found" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target failed; the input is in build/fuzz/crashes, the log in $log" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $target: $runs runs in $seconds s, no fault"
done
