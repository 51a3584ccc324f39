#!/bin/bash
# Builds setup.exe twice, in two fresh build directories at different paths,
# and compares the two programs byte for byte. Exit status 0 when identical.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/scripts/deps.sh"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/repro.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
FIRST=$WORK/first/build
SECOND=$WORK/second-place/elsewhere/build

for dir in "$FIRST" "$SECOND"; do
  echo "Building setup.exe in $dir"
  cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$dir" --target setup -j"$(nproc)" >"$dir.log" 2>&1 ||
    { tail -20 "$dir.log"; exit 2; }
done

A=$FIRST/setup/setup.exe
B=$SECOND/setup/setup.exe
if cmp "$A" "$B"; then
  echo "setup.exe is reproducible: both builds give the same $(stat -c %s "$A") bytes" \
       "(sha256 $(sha256sum "$A" | cut -d' ' -f1))"
else
  echo "setup.exe differs between the two builds"
  cmp -l "$A" "$B" | head -20
  exit 1
fi
