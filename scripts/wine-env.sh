# Sourced by the scripts: which Wine runs which build, and a Wine prefix with a
# persistent server so that each test process starts in milliseconds rather
# than seconds.
#
# The two builds: win32 (the product, i686) and win64 (x86_64). 32-bit Wine
# needs a kernel that runs 32-bit programs; 64-bit Wine runs on any x86-64
# Linux machine.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

WINE32_LOADER=/usr/lib/wine/wine
WINE64_LOADER=/usr/lib/wine/wine64

# Points every later "wine" call of this shell at the loader of one build.
# /usr/bin/wine would pick the 32-bit loader whenever it is installed, even
# where it cannot run, so the loaders are called directly.
wine_use() {
  case "$1" in
    win32) WINE_LOADER=$WINE32_LOADER; export WINEARCH=win32; unset WINELOADER ;;
    win64) WINE_LOADER=$WINE64_LOADER; export WINEARCH=win64 WINELOADER=$WINE64_LOADER ;;
    *) echo "wine_use: unknown build '$1' (win32 or win64)" >&2; return 1 ;;
  esac
}

wine() { "$WINE_LOADER" "$@"; }

# win32 or win64, from the PE header of a Windows program (PE32 or PE32+).
wine_arch_of() {
  local pe magic
  pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  magic=$(od -An -t x2 -j $((pe + 24)) -N 2 "$1" | tr -d ' ' | sed 's/^0*//')
  case "$magic" in
    10b) echo win32 ;;
    20b) echo win64 ;;
    *) echo "wine_arch_of: $1 is not a Windows program" >&2; return 1 ;;
  esac
}

# True when 32-bit Wine starts on this machine; otherwise WINE32_WHY says why
# and what to do about it.
wine32_runs() {
  local out
  if [ ! -e "$WINE32_LOADER" ]; then
    WINE32_WHY="32-bit Wine is not installed (Debian package wine32:i386; scripts/deps.sh installs it)"
    return 1
  fi
  if out=$("$WINE32_LOADER" --version 2>&1); then
    return 0
  fi
  case "$out" in
    *"Exec format error"*)
      WINE32_WHY="this machine runs no 32-bit programs (its kernel has 32-bit emulation switched off)" ;;
    *)
      WINE32_WHY="32-bit Wine does not start: ${out##*: }" ;;
  esac
  return 1
}

# Starts the server and boots the prefix $WINEPREFIX for the build chosen with
# wine_use. Every standard stream is on /dev/null: Wine's background services
# would otherwise inherit the caller's pipes and keep them open for ever.
wine_start() {
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1
  if ! wine wineboot </dev/null >/dev/null 2>&1; then
    echo "Wine ($WINE_LOADER) could not boot the prefix $WINEPREFIX." >&2
    echo "Run scripts/deps.sh to install what is missing, or delete the prefix to start afresh." >&2
    return 1
  fi
  # The second unit-test program sees the Windows 9x platform.
  wine reg add 'HKCU\Software\Wine\AppDefaults\wfutil_tests9x.exe' /v Version /d win98 /f \
    </dev/null >/dev/null 2>&1
}

wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
}
