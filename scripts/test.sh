#!/bin/bash
# Installs what is missing (as root, from Debian), builds both builds and runs
# every test, then each fuzz target for KELVO_FUZZ_SECONDS (default 45).
# Needs no standard input.
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
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake --preset windows
cmake --build --preset windows -j"$(nproc)"
cmake --preset native
cmake --build --preset native -j"$(nproc)"
ctest --preset native

bash scripts/fuzz.sh "${KELVO_FUZZ_SECONDS:-45}"
