#!/bin/bash
# deps.sh's decisions on the archive's bad days, replayed without the network:
# stand-ins for apt-get, dpkg-query, dpkg and sudo come first on PATH. apt-get's
# stand-in answers each call with the next line of a script of answers
# ("STATUS|OUTPUT") and records the call, so each case checks what deps.sh
# asked apt for, what it printed and how it ended.
# Usage: deps_test.sh DEPS_SH
set -uo pipefail
deps=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/deps-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

mkdir "$work/bin"
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/bash
echo "apt-get $*" >>"$FAKE/calls"
answer=$(head -1 "$FAKE/answers")
[ -n "$answer" ] || { echo "E: unexpected call: apt-get $*"; exit 99; }
sed -i 1d "$FAKE/answers"
printf '%b\n' "${answer#*|}"
exit "${answer%%|*}"
STUB
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/bash
grep -qxF -- "${!#}" "$FAKE/installed" && echo "install ok installed"
STUB
cat >"$work/bin/dpkg" <<'STUB'
#!/bin/bash
case "$1" in --print-foreign-architectures) echo i386 ;; *) echo "dpkg $*" >>"$FAKE/calls" ;; esac
STUB
printf '#!/bin/bash\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*
echo VERSION_CODENAME=bookworm >"$work/os-release"

REQUIRED="cmake make gcc libc6-dev zlib1g-dev libdeflate-dev g++-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev g++-mingw-w64-i686-win32
  g++-mingw-w64-x86-64-win32 googletest wine wine64 xvfb xauth x11-apps imagemagick cppcheck osslsigncode openssl"
STALE_INDEX='E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]\n   Hashes of expected file:\nE: Some index files failed to download. They have been ignored, or old ones used instead.'
HELD='E: Unable to correct problems, you have held broken packages.'

# Runs deps.sh on a machine that has the packages INSTALLED (one per line),
# with apt-get answering ANSWERS (one per line).
replay() {
  export FAKE=$work/$1
  mkdir -p "$FAKE"
  printf '%s\n' "$2" | sed '/^$/d' >"$FAKE/installed"
  printf '%s\n' "$3" | sed '/^$/d' >"$FAKE/answers"
  : >"$FAKE/calls"
  before=$failures
  PATH=$work/bin:$PATH OS_RELEASE=$work/os-release DEPS_NOTE_FILE=$FAKE/note \
    bash "$deps" >"$FAKE/out" 2>&1
  status=$?
}
check() {
  if ! eval "$2"; then
    echo "FAILED [$case] $1"
    failures=$((failures + 1))
  fi
}
printed() { grep -qF -- "$1" "$FAKE/out"; }
call() { sed -n "${1}p" "$FAKE/calls"; }
calls() { wc -l <"$FAKE/calls"; }
# After a case whose checks failed: what deps.sh printed and asked apt for.
show() {
  [ "$failures" -eq "$before" ] && return 0
  echo "--- $case: status $status; output:"; cat "$FAKE/out"; echo "--- apt-get calls:"; cat "$FAKE/calls"
}

case="index fails"
replay index "" "100|$STALE_INDEX
100|$STALE_INDEX
0|"
check "ends well" '[ "$status" -eq 0 ]'
check "names the failed index and tries once more" \
  'printed "deps.sh: apt-get update could not fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz; trying once more"'
check "goes on with the lists it has" 'printed "deps.sh: apt-get update failed again; going on with the package lists apt has"'
check "installs everything in one command" '[ "$(calls)" -eq 3 ] && [[ "$(call 3)" == *" install "*" wine32:i386" ]]'
show

case="32-bit Wine on the second try"
replay second "" "0|
100|$HELD
0|"
check "ends well" '[ "$status" -eq 0 ]'
check "says it tries the main archive" 'printed "trying again with this release'"'"'s main archive as the target (-t bookworm)"'
check "the second try names the release, the required set and 32-bit Wine" \
  '[ "$(calls)" -eq 3 ] && [[ "$(call 3)" == *"install -y -qq --no-install-recommends -t bookworm cmake "*" openssl wine32:i386" ]]'
check "no word of a build that does not run" '! printed "not run"'
show

case="no 32-bit Wine"
replay without "" "0|
100|$HELD
100|$HELD
0|"
line="deps.sh: 32-bit Wine (wine32:i386) could not be installed (apt: $HELD): the 32-bit setup.exe will be built, not run"
check "ends well" '[ "$status" -eq 0 ]'
check "says so in one line" 'printed "$line"'
check "hands the line to the caller" '[ "$(cat "$FAKE/note")" = "$line" ]'
check "then installs the required set alone" \
  '[ "$(calls)" -eq 4 ] && [[ "$(call 4)" == *" install "*" openssl" ]] && [[ "$(call 4)" != *wine32* ]]'
show

case="required set fails"
replay required "" "0|
100|$HELD
100|$HELD
100|E: Unable to locate package g++-mingw-w64-i686-posix
100|E: Unable to locate package g++-mingw-w64-i686-posix"
check "fails" '[ "$status" -ne 0 ]'
check "shows apt's last lines" 'printed "E: Unable to locate package g++-mingw-w64-i686-posix"'
check "tries the required set alone, then with the main archive as the target" \
  '[ "$(calls)" -eq 5 ] && [[ "$(call 5)" == *" -t bookworm "*" openssl" ]] && [[ "$(call 5)" != *wine32* ]]'
check "says what failed and what to do" \
  'printed "deps.sh: apt-get could not install the required packages (" && printed "then run this command again."'
show

case="everything installed"
replay installed "$(echo $REQUIRED | tr ' ' '\n'; echo wine32:i386)" ""
check "ends well, silently" '[ "$status" -eq 0 ] && [ ! -s "$FAKE/out" ]'
check "asks apt for nothing" '[ "$(calls)" -eq 0 ]'
show

[ "$failures" -eq 0 ] && echo "every case passed" || { echo "$failures checks failed"; exit 1; }
