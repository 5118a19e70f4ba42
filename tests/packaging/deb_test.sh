#!/bin/bash
# Installs the native build into a throwaway prefix, packs it into a .deb,
# unpacks that with dpkg -x and runs the kelvo it holds.
#   deb_test.sh BUILD_DIR
set -euo pipefail
build=$1
source "$(dirname "$0")/pack.sh"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/kelvo share/man/man1/kelvo.1 share/doc/kelvo/examples/KELVO.TAB \
  share/doc/kelvo/examples/KELVO.EXT; do
  [[ -f $work/prefix/$f ]] || fail "cmake --install left no $f"
done

pack DEB "$build"
deb=$package
[[ $(dpkg-deb --field "$deb" Package) == kelvo ]] || fail "the package is not called kelvo"
dpkg-deb --field "$deb" Depends | grep -q libc6 || fail "the package does not depend on libc6"
diff <(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort) - <<'LIST' ||
./usr/bin/kelvo
./usr/share/doc/kelvo/examples/KELVO.EXT
./usr/share/doc/kelvo/examples/KELVO.TAB
./usr/share/man/man1/kelvo.1
LIST
  fail "the package holds other files than these"

dpkg -x "$deb" "$work/root"
mkdir "$work/cwd"
cd "$work/cwd"
status=0
"$work/root/usr/bin/kelvo" '/?' </dev/null >"$work/help" || status=$?
[[ $status == 0 ]] || fail "kelvo /? exited with $status"
diff <(iconv -f CP866 -t UTF-8 <"$work/help" | tr -d '\r') - <<'HELP' ||
Утилита удаления  файлов получаемых при компиляции.
Для помощи используйте опцию /?.
   Версия 1.6.2(32)  (c) kelvo authors
Вызов: kelvo [опции] [директория].
[директория] - директория с которой начинается удаление файлов.
Опции:
/? - вызов помощи.
/s - удаление файлов в поддиректориях.
/y - удаление файлов без подтверждения.
/n - запуск программы без начального подтверждения.
/t - удаление файлов без маски заданной в файле kelvo.TAB.
Файл kelvo.TAB содержит маски файлов безусловного удаления.
Файл kelvo.EXT расширения файлов для удаления.
Файлы kelvo.TAB и kelvo.EXT должны находится там же, где и файл kelvo.
HELP
  fail "kelvo /? wrote another text"
[[ -z $(ls -A "$work/cwd") ]] || fail "kelvo /? left files behind"
echo "ok: $(basename "$deb")"
