#!/bin/bash
# Builds setup.exe twice for each architecture, in two fresh build trees at
# different paths, and compares the programs byte for byte. Exit status 0 when
# both the 32-bit and the 64-bit setup.exe are identical across the two.
. "$(dirname "$0")/common.sh"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/repro.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
first=$WORK/first
second=$WORK/second-place/elsewhere
for tree in "$first" "$second"; do
  BUILD_ROOT=$tree BUILD_TARGET=setup "$ROOT/scripts/build.sh" win32 win64
done

different=0
for arch in win32 win64; do
  a=$first/$arch/setup/setup.exe b=$second/$arch/setup/setup.exe
  if cmp -s "$a" "$b"; then
    say "the $(describe "$arch")'s setup.exe is reproducible: both builds give the same" \
        "$(stat -c %s "$a") bytes (sha256 $(sha256sum "$a" | cut -d' ' -f1))"
  else
    say "the $(describe "$arch")'s setup.exe differs between the two builds:"
    cmp -l "$a" "$b" | head -20
    different=1
  fi
done
exit $different
