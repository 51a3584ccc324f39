#!/bin/bash
# The size report of setup.exe adds up: its lines (with the signature of a
# signed build) give the file's size, the payload is the packed entries'
# bytes and the bitmap is the welcome bitmap as stored (the file less its
# 14-byte file header). Against a baseline it gives the budget, 1 % past it,
# and fails when the file has grown 2 % past it.
# Usage: size_report_test.sh SETUP_EXE PACKED_DIR WELCOME_BMP SIZE_REPORT_SCRIPT
set -euo pipefail
exe=$1 packed=$2 bitmap=$3 script=$4
report=$(mktemp "${TMPDIR:-/tmp}/size-report.XXXXXX")
trap 'rm -f "$report" "$report.err"' EXIT
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

# The budget: the file at its baseline has 1 % to spare; grown 2 % past its
# baseline, it fails and says so.
size=$(stat -c %s "$exe")
"$script" "$report" "$exe" "$size" >/dev/null || fail "the file at its own baseline fails"
grep -qxE "  budget +$((size + size / 100)) bytes \(1 % past the baseline $size\): $((size / 100)) bytes to spare" \
  "$report" || fail "no budget line with $((size / 100)) bytes to spare in: $(cat "$report")"
shrunk=$((size * 100 / 102))
if "$script" "$report" "$exe" "$shrunk" >/dev/null 2>"$report.err"; then
  fail "a file 2 % past its baseline passed"
fi
over=$((size - shrunk - shrunk / 100))
grep -qF "bytes (1 % past the baseline $shrunk): $over bytes over" "$report" || fail "no word of the excess: $(cat "$report")"
grep -qF "size-report: error: $exe is $size bytes, $over bytes over its budget" "$report.err" ||
  fail "no error: $(cat "$report.err")"
! grep -qi limit "$report" || fail "the report quotes a limit: $(cat "$report")"
"$script" "$report" "$exe"
