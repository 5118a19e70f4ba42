# Sourced by the package tests: a throwaway folder $work, removed on exit,
# fail MESSAGE, and pack GENERATOR BUILD_DIR, which runs cpack for that
# build into $work/out and sets $package to the one file it made.

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-pack.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "$*"
  exit 1
}

pack() {
  local generator=$1 build=$2
  [[ -f $build/CPackConfig.cmake ]] || fail "no configured build in $build"
  if ! cpack --config "$build/CPackConfig.cmake" -G "$generator" -B "$work/out" \
    >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack -G $generator failed"
  fi
  local made=("$work"/out/*."${generator,,}")
  ((${#made[@]} == 1)) || fail "cpack made ${#made[@]} files: ${made[*]}"
  package=${made[0]}
}
