#!/bin/bash
# Where the bytes of a setup.exe go: code and data (every section but the
# resources, each listed), the payload (the BINFILE entries), the welcome
# bitmap, the other resources (dialogs, icon, strings, licence, manifest,
# version, the resource directory), the headers and any signature; the lines
# add up to the file's size. Writes the report to REPORT and prints it.
# BASELINE, when given, is the size the file is measured against: its budget
# lets it grow by 1 % past that, and a larger file fails (exit code 1) with an
# error that says by how much.
# Usage: size-report.sh REPORT SETUP_EXE [BASELINE]
# OBJDUMP names the MinGW objdump to use (either architecture's reads both).
set -euo pipefail
report=$1 exe=$2 baseline=${3:-}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

total=$(stat -c %s "$exe")
headers=$(LC_ALL=C "$objdump" -p "$exe" | awk '/^SizeOfHeaders/ { print $2 }')
signature=$(LC_ALL=C "$objdump" -p "$exe" | awk '/Security Directory/ { print $4 }')
headers=$((16#$headers)) signature=$((16#${signature:-0}))

# Section name and bytes in the file, from the section table (sections
# without file contents, such as .bss, take none).
sections=$(LC_ALL=C "$objdump" -h "$exe" | awk '
  /^ +[0-9]+ / { name = $2; offset = $6; next }
  name != "" { if ($0 ~ /CONTENTS/) print name, offset; name = "" }' |
  sort -k2)
declare -a names offsets
while read -r name offset; do
  names+=("$name") offsets+=($((16#$offset)))
done <<<"$sections"
end_of_sections=$((total - signature))

code=0 code_list="" rsrc=0
for i in "${!names[@]}"; do
  next=${offsets[$((i + 1))]:-$end_of_sections}
  bytes=$((next - offsets[i]))
  if [ "${names[i]}" = .rsrc ]; then
    rsrc=$bytes
  else
    code=$((code + bytes)) code_list+=" ${names[i]} $bytes"
  fi
done

# Resource bytes by type: BINFILE entries and bitmaps (type 2) counted apart.
read -r payload entries bitmap < <(LC_ALL=C "$objdump" -p "$exe" | awk '
  function hex(s,   n, i) { n = 0; s = tolower(s); sub(/^0x/, "", s)
    for (i = 1; i <= length(s); i++) n = n * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return n }
  /^[0-9a-f]+   Entry: / { type = ($0 ~ /: BINFILE,/) ? "payload" : ($0 ~ /ID: 0x000002,/) ? "bitmap" : "other" }
  /Leaf: Addr:/ { size = $6; sub(/,$/, "", size); bytes[type] += hex(size); if (type == "payload") n++ }
  END { printf "%d %d %d\n", bytes["payload"], n, bytes["bitmap"] }')
other=$((rsrc - payload - bitmap))
[ -z "$baseline" ] || budget=$((baseline + baseline / 100))

{
  echo "size of $exe"
  printf '  %-16s %9d bytes:%s\n' "code and data" "$code" "$code_list"
  printf '  %-16s %9d bytes: %d BINFILE entries\n' "payload" "$payload" "$entries"
  printf '  %-16s %9d bytes\n' "welcome bitmap" "$bitmap"
  printf '  %-16s %9d bytes: dialogs, icon, strings, licence, manifest, version, directory\n' \
         "other resources" "$other"
  printf '  %-16s %9d bytes\n' "headers" "$headers"
  [ "$signature" -eq 0 ] || printf '  %-16s %9d bytes\n' "signature" "$signature"
  printf '  %-16s %9d bytes\n' "total" "$total"
  if [ -n "$baseline" ]; then
    if [ "$total" -le "$budget" ]; then verdict="$((budget - total)) bytes to spare"; else verdict="$((total - budget)) bytes over"; fi
    printf '  %-16s %9d bytes (1 %% past the baseline %d): %s\n' "budget" "$budget" "$baseline" "$verdict"
  fi
} | tee "$report"

if [ -n "$baseline" ] && [ "$total" -gt "$budget" ]; then
  echo "size-report: error: $exe is $total bytes, $((total - budget)) bytes over its budget of $budget" \
       "(its baseline $baseline and 1 %); make it smaller, or raise its baseline (setup/size-baseline.cmake) if the growth is meant" >&2
  exit 1
fi
