#!/bin/bash
# Boots a build's Wine prefix before its tests and stops its server after
# them, as scripts/test.sh does: CTest runs this through the build tree's
# CTestCustom.cmake, so that a plain "ctest" (or "ctest --preset") needs no
# other step. The prefix is WINEPREFIX when set, else the build tree's own, as
# for cmake/wine-run.sh.
# Usage: ctest-wine.sh start|stop win32|win64 BUILD_DIR
. "$(dirname "$0")/../scripts/wine-env.sh"
action=$1 arch=$2 build=$3
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
wine_use "$arch" || exit 1
case "$action" in
  start) wine_start ;;
  stop) wine_stop ;;
  *) echo "ctest-wine.sh: start or stop, not '$action'" >&2; exit 2 ;;
esac
