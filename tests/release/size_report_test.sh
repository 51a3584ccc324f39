#!/bin/bash
# The size report of setup.exe adds up: its lines (with the signature of a
# signed build) give the file's size, the payload is the packed entries'
# bytes and the bitmap is the welcome bitmap as stored (the file less its
# 14-byte file header).
# Usage: size_report_test.sh SETUP_EXE PACKED_DIR WELCOME_BMP SIZE_REPORT_SCRIPT
set -euo pipefail
exe=$1 packed=$2 bitmap=$3 script=$4
report=$(mktemp "${TMPDIR:-/tmp}/size-report.XXXXXX")
trap 'rm -f "$report"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

"$script" "$report" "$exe" >/dev/null
field() { awk -v what="$1" 'index($0, "  " what " ") == 1 { sub("^  " what " *", ""); print $1 }' "$report"; }
parts=0
for part in "code and data" "payload" "welcome bitmap" "other resources" "headers"; do
  value=$(field "$part")
  [[ "$value" =~ ^[0-9]+$ ]] || fail "no '$part' line in the report"
  parts=$((parts + value))
done
signature=$(field signature)
parts=$((parts + ${signature:-0}))
total=$(field total)
[ "$total" -eq "$(stat -c %s "$exe")" ] || fail "total $total is not the file's size"
[ "$parts" -eq "$total" ] || fail "the parts add up to $parts, not $total"
packed_bytes=$(cat "$packed"/*.bin | wc -c)
[ "$(field payload)" -eq "$packed_bytes" ] || fail "payload $(field payload) is not the packed entries' $packed_bytes"
[ "$(field "welcome bitmap")" -eq $(($(stat -c %s "$bitmap") - 14)) ] || fail "the bitmap's size is not welcome.bmp's"
cat "$report"
