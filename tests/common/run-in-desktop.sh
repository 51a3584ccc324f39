#!/bin/bash
# Runs a Win32 driver program under Wine inside an X server of its own (Xvfb,
# 1024 x 768), a fresh Wine prefix of its own and Wine's virtual desktop, and
# passes on its output and exit code. Each KEY=path before "--" reaches the
# driver as the environment variable KEY holding that path as a Windows path.
# Usage: run-in-desktop.sh PREFIX OUTDIR [KEY=path ...] -- DRIVER [options]
set -u
if [ "${1:-}" != "--inside" ]; then
  # Displays from 140 up, clear of other runs that start at the default 99.
  exec xvfb-run -a -n 140 -s "-screen 0 1024x768x24" "$0" --inside "$@"
fi
shift
prefix=$1 out=$2
shift 2

winpath() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  export "${1%%=*}=$(winpath "${1#*=}")"
  shift
done
shift
driver=$1
shift

# A fresh prefix each run: no run sees what an earlier one installed.
rm -rf "$prefix" "$out"
mkdir -p "$prefix" "$out"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1

export DRIVER_LOG="$(winpath "$out")\\driver.log"
wine explorer /desktop=install,1024x768 "$driver" "$@" </dev/null >/dev/null 2>&1 &

# The driver writes its exit code when it is done.
for _ in $(seq 1 1200); do
  [ -f "$out/driver.log.rc" ] && break
  sleep 0.5
done
wineserver -k >/dev/null 2>&1
wait

cat "$out/driver.log" 2>/dev/null
rc=$(tr -dc 0-9 <"$out/driver.log.rc" 2>/dev/null)
exit "${rc:-1}"
