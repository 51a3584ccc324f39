#!/bin/bash
# Installs what building and testing need on Debian 12, only when something is
# missing. Run as root (or with sudo available). Downloads nothing else.
#
# Two sets of packages:
# - the required set builds both builds and runs the 64-bit suite; without it
#   nothing can go on, so a failure ends the script with apt's last lines;
# - 32-bit Wine runs the 32-bit suite; it is wanted, not required: when it
#   cannot be installed the script says so in one line and goes on.
# A mirror often serves one stale index among many ("Mirror sync in
# progress?"). apt-get update then fails although every other list is fresh,
# so a failed update is a warning. Nothing here reconfigures the machine
# beyond adding the i386 architecture: no pins, no sources, no removals.
# DEPS_NOTE_FILE, when set, receives the line about 32-bit Wine, so that the
# caller's summary can repeat it.
. "$(dirname "$0")/common.sh"

REQUIRED=(cmake make gcc libc6-dev zlib1g-dev libdeflate-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
          g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
          googletest wine wine64 xvfb xauth x11-apps imagemagick cppcheck
          osslsigncode openssl)
WANTED=(wine32:i386)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t required < <(missing_of "${REQUIRED[@]}")
mapfile -t wanted < <(missing_of "${WANTED[@]}")
missing=("${required[@]}" "${wanted[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null ||
    die "these packages are missing and installing them needs root: ${missing[*]}"
  SUDO=sudo
fi
log=$(mktemp "${TMPDIR:-/tmp}/deps.XXXXXX")
apt() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get "$@" >"$log" 2>&1; }

# Updates the package lists; an index that fails to download is named, the
# update tried once more, and the lists apt has are used either way.
update_lists() {
  apt update -qq && return 0
  local failed
  failed=$(sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p' "$log" | paste -sd' ')
  say "apt-get update could not fetch ${failed:-its indexes ($(tail -1 "$log"))}; trying once more"
  apt update -qq && return 0
  say "apt-get update failed again; going on with the package lists apt has"
}

# This release's codename, whose main archive is the target of the second try.
codename() { (. "${OS_RELEASE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}"); }

install() { apt install -y -qq --no-install-recommends "$@"; }

# Installs the packages named; when apt cannot, tries once more with the
# release's main archive as the target of that one command. The newest amd64
# libraries can come from an archive whose i386 index failed, leaving their
# i386 twins only in older versions; the main archive offers versions that
# exist on both architectures.
install_set() {
  install "$@" && return 0
  local release
  release=$(codename)
  [ -n "$release" ] || return 1
  say "the install failed (apt: $(tail -1 "$log")); trying again with this release's main archive as the target (-t $release)"
  install -t "$release" "$@"
}

say "installing packages from Debian's archive: ${missing[*]}"
# wine32:i386 needs the i386 architecture; it installs on any x86-64 machine,
# even one whose kernel runs no 32-bit programs.
if [ ${#wanted[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
update_lists
# Everything in one command first, so that apt chooses the amd64 libraries and
# their i386 twins together.
if [ ${#wanted[@]} -gt 0 ] && install_set "${missing[@]}"; then
  rm -f "$log"
  exit 0
fi
if [ ${#wanted[@]} -gt 0 ]; then
  line="32-bit Wine (wine32:i386) could not be installed (apt: $(tail -1 "$log")): the 32-bit setup.exe will be built, not run"
  say "$line"
  [ -z "${DEPS_NOTE_FILE:-}" ] || echo "$SCRIPT: $line" >>"$DEPS_NOTE_FILE"
fi
if [ ${#required[@]} -gt 0 ] && ! install_set "${required[@]}"; then
  tail -15 "$log" >&2
  die "apt-get could not install the required packages (${required[*]}); the full output is $log. Check that Debian's archive is reachable ('apt-get update' says which indexes fail), then run this command again."
fi
rm -f "$log"
