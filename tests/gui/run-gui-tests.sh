#!/bin/bash
# Runs the GUI driver against setup.exe: its own X server (Xvfb, 1024 x 768),
# its own Wine prefix, and Wine's virtual desktop so that frames and captions
# are drawn. Page screenshots land in SHOTS_DIR as PNG files.
# Usage: run-gui-tests.sh PREFIX DRIVER SETUP_EXE LICENSE_TXT SHOTS_DIR PLANTED_DLL [gtest options]
set -u
if [ "${1:-}" != "--inside" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside "$@"
fi
shift
prefix=$1 driver=$2 setup=$3 licence=$4 shots=$5 planted=$6
shift 6

winpath() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

# Wine would load its built-in Shdocvw.dll whatever file the search finds;
# preferring a file of that name lets the search order decide, so that the
# planted-library check sees what Windows would load.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;shdocvw=n,b"
mkdir -p "$prefix" "$shots"
rm -f "$shots"/*.bmp "$shots"/*.png "$shots"/driver.log "$shots"/driver.log.rc
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1

export SETUP_EXE=$(winpath "$setup") LICENSE_TXT=$(winpath "$licence")
export PLANTED_DLL=$(winpath "$planted")
export GUI_SHOTS=$(winpath "$shots") GUI_LOG="$(winpath "$shots")\\driver.log"
wine explorer /desktop=setupgui,1024x768 "$driver" "$@" </dev/null >/dev/null 2>&1 &

# The driver writes its exit code when it is done.
for _ in $(seq 1 1100); do
  [ -f "$shots/driver.log.rc" ] && break
  sleep 0.5
done
wineserver -k >/dev/null 2>&1
wait

cat "$shots/driver.log" 2>/dev/null
for bmp in "$shots"/*.bmp; do
  [ -f "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "Screenshots: $shots"
rc=$(tr -d "\r\n" < "$shots/driver.log.rc" 2>/dev/null || echo 1)
exit "$rc"
