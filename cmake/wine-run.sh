#!/bin/sh
# Runs a Windows program under the Wine prefix of the build tree it was built in.
# WINEPREFIX may be set by the caller; otherwise the prefix beside the program's
# build tree (<build>/wineprefix) is used.
if [ -z "$WINEPREFIX" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=${WINEDEBUG:--all}
exec wine "$@"
