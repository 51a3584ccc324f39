#!/bin/bash
# Runs a Win32 driver program under Wine inside an X server of its own (Xvfb,
# 1024 x 768), a fresh Wine prefix of its own and Wine's virtual desktop (so
# that frames and captions are drawn), and passes on its output and exit code.
# The Wine loader (32-bit or 64-bit) is the one that matches the driver.
#
# DESKTOP_SIZE (WIDTHxHEIGHT) gives the X screen and the Wine desktop another
# size, and DESKTOP_DPI the prefix a display scale in dots per inch (96 is
# 100 %; Windows' LogPixels), for a screen of that scale.
#
# Each KEY=path before "--" reaches the driver as the environment variable KEY
# holding that path as a Windows path. DRIVER_OUT is OUTDIR: the driver writes
# its log (driver.log), its exit code (driver.log.rc) and any screenshots
# (BMP, made into PNG here, without time stamps) there. A failed run's OUTDIR
# is kept beside it under a name with the time, so that the next run cannot
# overwrite it.
#
# A KEY=tmpfs:SIZE pair (SIZE as mount takes it, 16m say) is a small drive of
# its own for the run: a tmpfs of that size mounted at OUTDIR/KEY (as root),
# unmounted at the end, whose Windows path the driver gets in KEY. Where the
# mount is refused, KEY is empty and one line says why.
# Usage: run-in-desktop.sh PREFIX OUTDIR [KEY=path ...] -- DRIVER [options]
set -u
. "$(dirname "$0")/../../scripts/wine-env.sh"
prefix=$1 out=$2
shift 2

winpath() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

drives=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case $1 in
    *=tmpfs:*) drives+=("$1") ;;
    *) export "${1%%=*}=$(winpath "${1#*=}")" ;;
  esac
  shift
done
shift
driver=$1
shift
# The longest a driver may take; its own waits are all shorter.
limit=${DRIVER_TIME_LIMIT:-600}
size=${DESKTOP_SIZE:-1024x768}

# A fresh prefix each run: no run sees what an earlier one installed.
for pair in "${drives[@]}"; do
  ! mountpoint -q "$out/${pair%%=*}" || umount "$out/${pair%%=*}"
done
rm -rf "$prefix" "$out"
mkdir -p "$prefix" "$out"
export WINEPREFIX=$prefix DRIVER_OUT=$(winpath "$out")
wine_use "$(wine_arch_of "$driver")" || exit 1

# The X server picks a free display itself (-displayfd), so that runs started
# side by side never race for the same one.
displayfile=$out/xvfb-display
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 100); do
  [ -s "$displayfile" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$displayfile" ]; then
  echo "run-in-desktop: Xvfb did not start (is the package xvfb installed?)" >&2
  exit 1
fi
export DISPLAY=:$(tr -dc 0-9 <"$displayfile")

mounted=()
finish() {
  wineserver -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  for dir in "${mounted[@]}"; do
    umount "$dir"
  done
  mounted=()
}
trap finish EXIT

# The small drives, mounted once finish is there to unmount them.
for pair in "${drives[@]}"; do
  key=${pair%%=*} dir=$out/${pair%%=*}
  mkdir -p "$dir"
  if why=$(mount -t tmpfs -o "size=${pair#*=tmpfs:}" tmpfs "$dir" 2>&1); then
    mounted+=("$dir")
    export "$key=$(winpath "$dir")"
  else
    echo "run-in-desktop: no small drive $key: mounting a tmpfs was refused: ${why%%$'\n'*}"
    export "$key="
  fi
done

if ! wine_start; then
  exit 1
fi
# The display scale is read where the user's and the machine's font settings
# keep it, when the prefix's server starts.
if [ -n "${DESKTOP_DPI:-}" ]; then
  for key in 'HKCU\Control Panel\Desktop' 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
    wine reg add "$key" /v LogPixels /t REG_DWORD /d "$DESKTOP_DPI" /f </dev/null >/dev/null 2>&1 ||
      { echo "run-in-desktop: could not set the display scale $DESKTOP_DPI"; exit 1; }
  done
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  wine_start || exit 1
fi
wine explorer /desktop=driver,"$size" "$driver" "$@" </dev/null >/dev/null 2>&1 &
desktop=$!

# The driver writes its exit code when it is done. Wine's desktop ends with
# the driver, so a driver that ended without one fails at once.
for _ in $(seq 1 $((limit * 2))); do
  [ -f "$out/driver.log.rc" ] && break
  kill -0 "$desktop" 2>/dev/null || { sleep 1; break; }
  sleep 0.5
done
if [ ! -f "$out/driver.log.rc" ]; then
  if kill -0 "$desktop" 2>/dev/null; then
    echo "run-in-desktop: the driver did not finish within $limit s; the screen then is $out/timeout.png"
    xwd -root -silent | convert xwd:- "$out/timeout.png" 2>/dev/null
  else
    echo "run-in-desktop: the driver ended without a result: it did not start, or it crashed"
  fi
fi
finish
trap - EXIT

cat "$out/driver.log" 2>/dev/null
for bmp in "$out"/*.bmp; do
  [ -f "$bmp" ] && convert "$bmp" -strip "${bmp%.bmp}.png" && rm -f "$bmp"
done
rc=$(tr -dc 0-9 2>/dev/null <"$out/driver.log.rc")
rc=${rc:-1}
if [ "$rc" != 0 ]; then
  kept=$out.failed-$(date +%Y%m%d-%H%M%S)-$$
  cp -a "$out" "$kept"
  echo "run-in-desktop: the driver failed (exit code $rc); its log and screenshots are kept in $kept"
fi
exit "$rc"
