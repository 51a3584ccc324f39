#!/bin/bash
# setup.exe must start on every system it is for, Windows 95, 98 and NT 4 up:
# it may import no system function those lack. The threading library of the
# posix C++ runtime brought in such imports (GetTickCount64 of Windows Vista,
# the vectored exception handlers of Windows XP, NT-only calls), and with them
# setup.exe could not be loaded there. This checks the import table for them,
# and the functions setup.exe takes from system libraries at their first call
# (DELAYED_DIR, setup/delayed/*.def), which objdump does not list: there such a
# function would fail only when called, in the middle of the install.
# Usage: imports_test.sh SETUP_EXE DELAYED_DIR   (OBJDUMP names the MinGW objdump)
set -euo pipefail
exe=$1 delayed=$2
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
newer=(GetTickCount64 AddVectoredExceptionHandler RemoveVectoredExceptionHandler
       TryEnterCriticalSection GetHandleInformation SwitchToThread SetProcessAffinityMask
       _vscprintf
       # the common controls of Internet Explorer 3 and later, and of Windows Vista
       InitCommonControlsEx _TrackMouseEvent TaskDialog TaskDialogIndirect
       # the shell of Internet Explorer 4 and later, Windows 2000 and Windows Vista
       SHGetSpecialFolderPathA SHGetFolderPathA SHGetFolderLocation SHCreateDirectoryExA
       SHGetKnownFolderPath SHParseDisplayName SHOpenFolderAndSelectItems
       # COM of Windows NT 4 only, or of DCOM added to Windows 95
       CoInitializeEx CoCreateInstanceEx CoInitializeSecurity)

imports=$(LC_ALL=C "$objdump" -p "$exe" |
          awk '/DLL Name:/ { dll = $3 } /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll ": " $3 }')
[ -n "$imports" ] || { echo "FAILED: no imports read from $exe" >&2; exit 1; }
shopt -s nullglob
defs=("$delayed"/*.def)
[ ${#defs[@]} -gt 0 ] || { echo "FAILED: no delayed libraries in $delayed" >&2; exit 1; }
delayed_imports=$(awk '/^LIBRARY/ { dll = $2; next } /^EXPORTS/ { next }
                       NF { name = $1; sub(/@[0-9]+$/, "", name); print dll " (delayed): " name }' "${defs[@]}")
found=0
for name in "${newer[@]}"; do
  if grep -E ": $name\$" <<<"$imports"$'\n'"$delayed_imports"; then found=1; fi
done
[ $found -eq 0 ] || { echo "FAILED: $exe imports the functions above, which older systems lack" >&2; exit 1; }
echo "$(wc -l <<<"$imports") imports and $(wc -l <<<"$delayed_imports") delayed ones, none of: ${newer[*]}"
