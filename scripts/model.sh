#!/bin/bash
# Runs many random cases against the model of the rules, on both builds:
#   bash scripts/model.sh [cases] [first seed]
# (CI runs 300 from seed 1.) Needs the builds of scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
cases=${1:-5000}
seed=${2:-1}
cmake --build --preset windows -j"$(nproc)" >/dev/null
cmake --build --preset windows64 -j"$(nproc)" >/dev/null
cmake --build --preset native -j"$(nproc)" >/dev/null
tests=build/native/tests/e2e/e2e_tests
export KELVO_MODEL_CASES=$cases KELVO_MODEL_SEED=$seed
echo "native: $cases cases from seed $seed"
"$tests" --kelvo="$PWD/build/native/kelvo" --gtest_filter='Model.*' --gtest_brief=1
echo "wine: $cases cases from seed $seed"
"$tests" --kelvo="$PWD/build/windows/kelvo.exe" --kelvo64="$PWD/build/windows64/kelvo.exe" --wine \
  --wineprefix="$PWD/build/native/tests/e2e/wineprefix" --gtest_filter='Model.*' --gtest_brief=1
