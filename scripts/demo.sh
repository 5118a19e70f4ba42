#!/bin/bash
# Builds kelvo for Linux, makes a small source tree with compiler leftovers in
# a fresh temporary directory, cleans the whole tree without questions
# (/S /N /Y) and shows what went.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in cmake make g++; do
  command -v "$tool" >/dev/null || need=1
done
if [[ -n ${need:-} ]]; then
  # An index that failed to update (a mirror syncing) leaves the others usable.
  apt-get update -qq || echo "apt-get update failed in part: installing from the indexes read" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq cmake make g++ >/dev/null
fi
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" --target kelvo >/dev/null

demo=$(mktemp -d /tmp/kelvo-demo.XXXXXX)
# The program with its mask file beside it: backups go whatever their source.
mkdir "$demo/bin"
cp build/demo/kelvo "$demo/bin/kelvo"
printf '*.BAK\r\n*.~*\r\n' > "$demo/bin/kelvo.TAB"

tree="$demo/project"
mkdir -p "$tree/src/util" "$tree/.git"
cd "$tree"
echo 'program Hello; begin end.' > HELLO.PAS
head -c 20000 /dev/zero > HELLO.EXE
head -c 3000 /dev/zero > HELLO.TPU
echo 'old notes' > NOTES.BAK
echo 'keep me' > README.TXT
head -c 4000 /dev/zero > ORPHAN.EXE
echo '      PROGRAM CALC' > src/calc.for
head -c 9000 /dev/zero > src/CALC.OBJ
head -c 15000 /dev/zero > src/calc.exe
echo 'unit Strs; end.' > src/util/strs.pas
head -c 6000 /dev/zero > src/util/STRS.TPU
echo 'draft' > src/util/strs.~pa
echo 'not ours' > .git/HELLO.EXE

echo "Before, in $tree:"
find . -type f | sort | sed 's/^/  /'
echo
echo "kelvo /S /N /Y $tree  (the whole tree, no questions):"
# Code page 866 in the C locale, whatever this one is; no configuration of
# this machine's own (~/.config/kelvo, /etc/xdg/kelvo) joins the demo's.
LC_ALL=C XDG_CONFIG_HOME=$demo/none XDG_CONFIG_DIRS=$demo/none "$demo/bin/kelvo" /S /N /Y "$tree" |
  iconv -f CP866 -t UTF-8 | tr -d '\r'
echo "(Удаляется файл: deleting file. The summary: size of the files deleted,"
echo " and the change in free space on the disk.)"
echo
echo "Left:"
find . -type f | sort | sed 's/^/  /'
echo
echo "(the demo lies in $demo; remove it with: rm -rf $demo)"
