#!/bin/bash
# Runs a Windows program under the Wine prefix of the build tree it was built
# in, with the Wine loader that matches the program (32-bit or 64-bit).
# WINEPREFIX may be set by the caller; otherwise the prefix beside the
# program's build tree (<build>/wineprefix) is used.
. "$(dirname "$0")/../scripts/wine-env.sh"
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  export WINEPREFIX="$dir/wineprefix"
fi
wine_use "$(wine_arch_of "$1")" || exit 1
wine "$@"
