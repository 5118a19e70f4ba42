#!/bin/bash
# Installs what is missing (as root, from Debian), builds both builds and runs
# every test, then the sanitizer build's tests and each fuzz target for
# KELVO_FUZZ_SECONDS (default 45). Needs no standard input.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t packages < <(grep -v '^#' scripts/packages.txt | sed '/^$/d')
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught syncing fails one index and the update with it; what was
  # read still serves. The i386 loader of Wine is the one package the tests
  # can do without (they then run the x86_64 build), so only it may fail.
  apt-get update -qq || echo "apt-get update failed in part: installing from the indexes read" >&2
  native=() foreign=()
  for p in "${missing[@]}"; do
    if [[ $p == *:i386 ]]; then foreign+=("$p"); else native+=("$p"); fi
  done
  ((${#native[@]} == 0)) || apt-get install -y -qq "${native[@]}" >/dev/null
  if ((${#foreign[@]})) && ! apt-get install -y -qq "${foreign[@]}" >/dev/null; then
    echo "could not install ${foreign[*]}: Wine will run the x86_64 build" >&2
  fi
fi

# The x86_64 Windows build is what the tests run under Wine where the kernel
# starts no 32-bit programs; the log of the Wine tests says which one ran.
for preset in windows windows64 native; do
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j"$(nproc)"
done
ctest --preset native
grep -h '^Under Wine' build/native/Testing/Temporary/LastTest.log || true

# The native program and its tests again, built with AddressSanitizer and
# UBSan; every report, also from a kelvo the tests start, lands in reports/
# and fails the run. LeakSanitizer is on: it stops the process with ptrace,
# which fails under a debugger or tracer; there set
# KELVO_ASAN_OPTIONS=detect_leaks=0.
reports=build/sanitize/reports
rm -rf "$reports"
mkdir -p "$reports"
cmake --preset sanitize
cmake --build --preset sanitize -j"$(nproc)"
sanitized=0
ctest --preset sanitize || sanitized=1
if compgen -G "$reports/*" >/dev/null; then
  cat "$reports"/*
  sanitized=1
fi
((sanitized == 0)) || { echo "sanitizer build: tests failed or reports written" >&2; exit 1; }

bash scripts/fuzz.sh "${KELVO_FUZZ_SECONDS:-45}"
