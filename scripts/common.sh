# Sourced by the scripts: strict mode, and no failure that ends a script
# without saying what failed.
set -Eeuo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${BUILD_ROOT:-$ROOT/build}
SCRIPT=$(basename "$0")
. "$ROOT/scripts/wine-env.sh"

# The two builds, each in a folder of its own under BUILD_ROOT: win32 is the
# product (i686, Windows 9x and NT), win64 the same sources for 64-bit Windows.
build_dir() { echo "$BUILD_ROOT/$1"; }
toolchain() { case "$1" in win32) echo "$ROOT/cmake/mingw-i686.cmake" ;; win64) echo "$ROOT/cmake/mingw-x86_64.cmake" ;; esac; }
describe() { case "$1" in win32) echo "32-bit build" ;; win64) echo "64-bit build" ;; esac; }

# Installs what is missing (scripts/deps.sh), once per command: build.sh, which
# test.sh and run.sh call, finds it done. DEPS_NOTE keeps deps.sh's line about
# 32-bit Wine, if it had one, for the caller's summary.
ensure_deps() {
  [ -z "${CURATO_DEPS_DONE:-}" ] || return 0
  local note
  note=$(mktemp "${TMPDIR:-/tmp}/deps-note.XXXXXX")
  DEPS_NOTE_FILE=$note "$ROOT/scripts/deps.sh"
  DEPS_NOTE=$(cat "$note")
  rm -f "$note"
  export CURATO_DEPS_DONE=1
}

say() { echo "$SCRIPT: $*"; }
die() { echo "$SCRIPT: $*" >&2; exit 1; }
trap 'rc=$?; echo "$SCRIPT: failed (exit status $rc) at line $LINENO: $BASH_COMMAND" >&2' ERR

# Which builds run here. CURATO_ARCH forces a choice: win32, win64 or both;
# auto (the default) tries whether 32-bit Wine starts. Sets RUN_ARCHS (the
# builds that run, the product first) and ARCH_LINE (which happened and why).
choose_archs() {
  local want=${CURATO_ARCH:-auto}
  case "$want" in
    auto)
      if wine32_runs; then
        RUN_ARCHS="win32 win64"
        ARCH_LINE="this machine runs 32-bit and 64-bit programs: both builds run"
      else
        RUN_ARCHS="win64"
        ARCH_LINE="$WINE32_WHY: the 64-bit build runs; the 32-bit setup.exe is built, not run"
      fi ;;
    both) RUN_ARCHS="win32 win64"; ARCH_LINE="CURATO_ARCH=both: both builds run" ;;
    win32|win64) RUN_ARCHS=$want; ARCH_LINE="CURATO_ARCH=$want: only the $(describe "$want") runs" ;;
    *) die "CURATO_ARCH must be auto, both, win32 or win64, not '$want'" ;;
  esac
  if [[ " $RUN_ARCHS " == *" win32 "* ]] && ! wine32_runs; then
    die "the 32-bit build cannot run here: $WINE32_WHY. Use CURATO_ARCH=win64 (or auto)."
  fi
}
