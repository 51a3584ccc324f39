#!/bin/bash
# Installs what building and testing need on Debian 12, only when something is
# missing. Run as root (or with sudo available). Downloads nothing else.
. "$(dirname "$0")/common.sh"

PACKAGES=(cmake make gcc libc6-dev zlib1g-dev libdeflate-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
          g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
          googletest wine wine64 wine32:i386 xvfb xauth x11-apps imagemagick
          osslsigncode openssl)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || die "these packages are missing and installing them needs root: ${missing[*]}"
  SUDO=sudo
fi
say "installing packages from Debian's archive: ${missing[*]}"
# wine32:i386 needs the i386 architecture; it installs on any x86-64 machine,
# even one whose kernel runs no 32-bit programs.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
log=$(mktemp "${TMPDIR:-/tmp}/deps.XXXXXX")
if ! { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
       $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  tail -20 "$log" >&2
  die "apt-get could not install the packages above (full output: $log). Is Debian's archive reachable?"
fi
rm -f "$log"
