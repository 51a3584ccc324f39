#!/bin/bash
# Builds setup.exe, the library, the tests and the benchmarks: the 32-bit
# build in build/win32 and the 64-bit build in build/win64 (BUILD_ROOT moves
# both). Arguments name the builds to make (win32, win64); the default is both.
# Extra CMake options can be given in CMAKE_OPTIONS, and BUILD_TARGET limits
# the build to one target (setup, say).
. "$(dirname "$0")/common.sh"
ensure_deps

archs=("$@")
[ $# -gt 0 ] || archs=(win32 win64)
for arch in "${archs[@]}"; do
  [ -n "$(toolchain "$arch")" ] || die "unknown build '$arch' (win32 or win64)"
  dir=$(build_dir "$arch")
  mkdir -p "$dir"
  say "building the $(describe "$arch") in $dir (log: $dir/build.log)"
  # shellcheck disable=SC2086
  if ! { cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$(toolchain "$arch")" ${CMAKE_OPTIONS:-} &&
         cmake --build "$dir" -j"$(nproc)" ${BUILD_TARGET:+--target "$BUILD_TARGET"}; } >"$dir/build.log" 2>&1; then
    grep -E -B2 -A6 'error|Error' "$dir/build.log" | tail -40 >&2 || true
    die "the $(describe "$arch") failed; the full log is $dir/build.log"
  fi
  # Where setup.exe's bytes go, as the build left it.
  report=$dir/setup/size-report.txt
  [ ! -f "$report" ] || sed "s/^/$SCRIPT: /" "$report"
done
