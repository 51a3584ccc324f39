#!/bin/bash
# Installs what building and testing need on Debian 12, only when something is
# missing. Run as root (or with sudo available). Downloads nothing else.
set -euo pipefail

PACKAGES=(cmake make gcc libc6-dev zlib1g-dev
          g++-mingw-w64-i686 mingw-w64-tools libz-mingw-w64-dev googletest
          wine wine32:i386 xvfb xauth x11-apps imagemagick)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "Installing: ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
