#!/bin/bash
# Packs the Windows build into its zip and checks what the zip holds:
# kelvo.exe, the sample companion files beside it, and a README.
#   zip_test.sh WINDOWS_BUILD_DIR EXAMPLES_DIR
set -euo pipefail
build=$1
examples=$2
source "$(dirname "$0")/pack.sh"

pack ZIP "$build"
zip=$package
top=$(basename "$zip" .zip)

diff <(unzip -Z1 "$zip" | grep -v '/$' | sort) - <<LIST || fail "the zip holds other files than these"
$top/KELVO.EXT
$top/KELVO.TAB
$top/README.txt
$top/kelvo.exe
LIST

unzip -q "$zip" -d "$work/x"
cmp "$work/x/$top/KELVO.TAB" "$examples/KELVO.TAB" || fail "KELVO.TAB is not the sample"
cmp "$work/x/$top/KELVO.EXT" "$examples/KELVO.EXT" || fail "KELVO.EXT is not the sample"

# A 32-bit console program: MZ, then a PE header for i386 (0x14c).
exe=$work/x/$top/kelvo.exe
[[ $(head -c 2 "$exe") == MZ ]] || fail "kelvo.exe is no Windows program"
pe=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
signature=$(od -An -tx1 -j"$pe" -N6 "$exe" | tr -d ' \n')
[[ $signature == 504500004c01 ]] || fail "kelvo.exe is not a 32-bit x86 program"

# Notepad of old shows LF-only text as one line.
readme=$work/x/$top/README.txt
lines=$(wc -l <"$readme")
((lines > 0)) && [[ $(grep -c $'\r$' "$readme") == "$lines" ]] ||
  fail "README.txt has lines without CR LF"
grep -q "kelvo.exe" "$readme" || fail "README.txt does not mention kelvo.exe"
echo "ok: $(basename "$zip")"
