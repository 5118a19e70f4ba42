#!/bin/bash
# Installs the native build into a throwaway prefix, packs it into a .deb,
# checks it with lintian, unpacks it with dpkg -x and runs the kelvo it holds
# with the configuration it brings.
#   deb_test.sh BUILD_DIR
set -euo pipefail
build=$1
source "$(dirname "$0")/pack.sh"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/kelvo share/man/man1/kelvo.1.gz share/doc/kelvo/copyright etc/xdg/kelvo/KELVO.TAB \
  etc/xdg/kelvo/KELVO.EXT; do
  [[ -f $work/prefix/$f ]] || fail "cmake --install left no $f"
done

pack DEB "$build"
deb=$package
[[ $(dpkg-deb --field "$deb" Package) == kelvo ]] || fail "the package is not called kelvo"
dpkg-deb --field "$deb" Depends | grep -q libc6 || fail "the package does not depend on libc6"
diff <(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort) - <<'LIST' ||
./etc/xdg/kelvo/KELVO.EXT
./etc/xdg/kelvo/KELVO.TAB
./usr/bin/kelvo
./usr/share/doc/kelvo/changelog.gz
./usr/share/doc/kelvo/copyright
./usr/share/man/man1/kelvo.1.gz
LIST
  fail "the package holds other files than these"
# dpkg keeps a user's edits of the sample files only when they are conffiles.
mkdir "$work/control"
dpkg-deb --control "$deb" "$work/control"
diff <(sort "$work/control/conffiles") - <<'LIST' || fail "the sample files are not conffiles"
/etc/xdg/kelvo/KELVO.EXT
/etc/xdg/kelvo/KELVO.TAB
LIST
# Debian policy as lintian checks it: no errors (warnings are shown).
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian finds errors in $(basename "$deb")"

dpkg -x "$deb" "$work/root"
mkdir "$work/cwd"
cd "$work/cwd"
status=0
# Today's bytes, code page 866 with CR LF, in the C locale.
LC_ALL=C "$work/root/usr/bin/kelvo" '/?' </dev/null >"$work/help" || status=$?
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
Оба файла ищутся рядом с kelvo, затем в ~/.config/kelvo/ и /etc/xdg/kelvo/.
HELP
  fail "kelvo /? wrote another text"
[[ -z $(ls -A "$work/cwd") ]] || fail "kelvo /? left files behind"

# The packaged configuration cleans a C project out of the box: with the
# package's /etc/xdg as the system configuration, a preview offers the
# object and the editor backup, and keeps the source and a D module beside it.
touch main.c main.o main.d main.c~ notes.txt
XDG_CONFIG_HOME=$work/none XDG_CONFIG_DIRS=$work/root/etc/xdg LC_ALL=C.UTF-8 \
  "$work/root/usr/bin/kelvo" /N </dev/null >"$work/preview" || fail "the preview failed"
diff <(sed -n 's/^Удаляется файл:  //p' "$work/preview") - <<LIST ||
$work/cwd/main.c~
$work/cwd/main.o
LIST
  fail "the packaged configuration offers other files: $(cat "$work/preview")"
echo "ok: $(basename "$deb")"
