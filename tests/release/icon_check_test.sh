#!/bin/bash
# The build's icon check reads back every image of setup.ico, and fails on the
# departures that older Windows versions draw garbled: a colour table cut
# short with biClrUsed counting it, and an image that runs past the file.
# Usage: icon_check_test.sh ICOCHECK ICON
set -euo pipefail
icocheck=$1 icon=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/icon-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

"$icocheck" "$icon" >"$work/ok.txt" || fail "setup.ico does not pass the check"
images=$(od -An -t u2 -j 4 -N 2 "$icon" | tr -d ' ')
[ "$(grep -c ': image [0-9]*: .*(biClrUsed 0, biClrImportant 0), ' "$work/ok.txt")" -eq "$images" ] ||
  fail "not every one of the $images images was read back: $(cat "$work/ok.txt")"

# Rejected: the first image's colour table declared as 57 entries.
first=$(od -An -t u4 -j 18 -N 4 "$icon" | tr -d ' ')
cp "$icon" "$work/trimmed.ico"
printf '\071\000\000\000' | dd of="$work/trimmed.ico" bs=1 seek=$((first + 32)) conv=notrunc status=none
if "$icocheck" "$work/trimmed.ico" >/dev/null 2>"$work/trimmed.err"; then fail "a biClrUsed of 57 passed"; fi
grep -qF "trimmed.ico: image 1: biClrUsed is 57, must be 0" "$work/trimmed.err" ||
  fail "no word of biClrUsed: $(cat "$work/trimmed.err")"

# Rejected: the file cut short inside its last image.
head -c $(($(stat -c %s "$icon") - 1)) "$icon" >"$work/cut.ico"
if "$icocheck" "$work/cut.ico" >/dev/null 2>"$work/cut.err"; then fail "a cut icon passed"; fi
grep -qF "lie outside the file" "$work/cut.err" || fail "no word of the cut: $(cat "$work/cut.err")"
cat "$work/ok.txt"
