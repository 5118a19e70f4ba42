#!/bin/bash
# Builds kelvo for Linux, makes a small source tree with compiler leftovers in
# a fresh temporary directory, cleans it and shows what went.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in cmake make g++; do
  command -v "$tool" >/dev/null || need=1
done
if [[ -n ${need:-} ]]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq cmake make g++ >/dev/null
fi
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" --target kelvo >/dev/null

demo=$(mktemp -d /tmp/kelvo-demo.XXXXXX)
cd "$demo"
echo 'program Hello; begin end.' > HELLO.PAS
head -c 20000 /dev/zero > HELLO.EXE
head -c 3000 /dev/zero > HELLO.TPU
echo '      PROGRAM CALC' > calc.for
head -c 9000 /dev/zero > CALC.OBJ
head -c 15000 /dev/zero > calc.exe
echo 'old notes' > NOTES.BAK
echo 'keep me' > README.TXT
head -c 4000 /dev/zero > ORPHAN.EXE

echo "Before, in $demo:"; ls -l
echo
printf "y%.0s" {1..40} | "$OLDPWD/build/demo/kelvo" | iconv -f CP866 -t UTF-8 | tr -d '\r'
echo
echo "After:"; ls -l
