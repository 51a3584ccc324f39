#!/bin/bash
# setup.exe must start on every system it is for, Windows 98 and NT 4 up: it
# may import no system function those lack. The threading library of the
# posix C++ runtime brought in such imports (GetTickCount64 of Windows Vista,
# the vectored exception handlers of Windows XP, NT-only calls), and with them
# setup.exe could not be loaded there. This checks the import table for them.
# Usage: imports_test.sh SETUP_EXE   (OBJDUMP names the MinGW objdump)
set -euo pipefail
exe=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
newer=(GetTickCount64 AddVectoredExceptionHandler RemoveVectoredExceptionHandler
       TryEnterCriticalSection GetHandleInformation SwitchToThread SetProcessAffinityMask
       _vscprintf)

imports=$(LC_ALL=C "$objdump" -p "$exe" |
          awk '/DLL Name:/ { dll = $3 } /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll ": " $3 }')
[ -n "$imports" ] || { echo "FAILED: no imports read from $exe" >&2; exit 1; }
found=0
for name in "${newer[@]}"; do
  if grep -E ": $name\$" <<<"$imports"; then found=1; fi
done
[ $found -eq 0 ] || { echo "FAILED: $exe imports the functions above, which older systems lack" >&2; exit 1; }
echo "$(wc -l <<<"$imports") imports, none of: ${newer[*]}"
