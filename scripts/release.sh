#!/bin/bash
# One command from the product files to a release in dist/: both setup.exe
# files built in a clean build folder of their own (build/release), checked,
# signed and verified when a certificate and key are given, and collected with
# SHA256SUMS, both size reports, the pictures of a walk through the wizard and
# RELEASE.txt. The same inputs give the same bytes in dist/, signed ones too
# (the signing time is fixed).
#
# Bad input is refused before anything is built. Any earlier dist/ is removed
# first; the new one is made as dist.partial/ and takes the name dist/ only
# when everything has passed, so a dist/ is always a finished one.
#
# Usage: release.sh [--payload DIR] [--cert CERT.pem --key KEY.pem] [--sign-time SECONDS]
#   --payload    the folder of the 55 product files (default: the stand-ins
#                built from payload/)
#   --cert/--key the certificate and its private key (PEM, the key not
#                encrypted) to sign both files with; unsigned without them
#   --sign-time  the signing time, Unix seconds (default: SOURCE_DATE_EPOCH,
#                else the time of the last commit)
. "$(dirname "$0")/common.sh"

usage() { die "usage: release.sh [--payload DIR] [--cert CERT.pem --key KEY.pem] [--sign-time SECONDS]"; }
payload="" cert="" key="" sign_time=""
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case "$1" in
    --payload) payload=$2 ;;
    --cert) cert=$2 ;;
    --key) key=$2 ;;
    --sign-time) sign_time=$2 ;;
    *) usage ;;
  esac
  shift 2
done

DIST=$ROOT/dist
STAGE=$ROOT/dist.partial
RELEASE_BUILD=$BUILD_ROOT/release
rm -rf "$DIST" "$STAGE"
trap 'rm -rf "$STAGE"' EXIT

# --- Inputs -----------------------------------------------------------------

# The product files: every one of the 55 names present and readable.
check_payload() {
  [ -n "$payload" ] || return 0
  [ -d "$payload" ] || die "the product files' folder $payload does not exist"
  payload=$(cd "$payload" && pwd)
  local listing name file missing=() unreadable=()
  listing=$(cmake -DCURATO_PAYLOAD_DIR="$payload" -P "$ROOT/payload/names.cmake")
  while read -r name file; do
    if [ "$file" = - ]; then
      missing+=("$name")
    elif [ ! -r "$payload/$file" ]; then
      unreadable+=("$file")
    fi
  done <<<"$listing"
  [ ${#missing[@]} -eq 0 ] ||
    die "the product files' folder $payload lacks ${#missing[@]} of the $(wc -l <<<"$listing") files: ${missing[*]}"
  [ ${#unreadable[@]} -eq 0 ] || die "cannot read these product files in $payload: ${unreadable[*]}"
}

# The certificate and key: both or neither, readable PEM, the key unencrypted
# and the certificate's, the certificate in force; then the signing time.
check_signing() {
  [ -n "$cert$key" ] || { [ -z "$sign_time" ] || die "--sign-time needs --cert and --key"; return 0; }
  [ -n "$cert" ] && [ -n "$key" ] || die "signing needs both --cert and --key"
  local out
  cert=$(realpath "$cert") key=$(realpath "$key")
  out=$(openssl x509 -in "$cert" -noout 2>&1) ||
    die "cannot read the certificate $cert (a PEM certificate): ${out%%$'\n'*}"
  out=$(openssl pkey -in "$key" -passin pass: -noout 2>&1) ||
    die "cannot read the private key $key (an unencrypted PEM key): ${out%%$'\n'*}"
  [ "$(openssl x509 -in "$cert" -noout -pubkey)" = "$(openssl pkey -in "$key" -passin pass: -pubout)" ] ||
    die "the private key $key does not match the certificate $cert"
  openssl x509 -in "$cert" -noout -checkend 0 >/dev/null ||
    die "the certificate $cert has expired ($(openssl x509 -in "$cert" -noout -enddate))"
  local given=--sign-time
  if [ -z "$sign_time" ] && [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    sign_time=$SOURCE_DATE_EPOCH given=SOURCE_DATE_EPOCH
  elif [ -z "$sign_time" ]; then
    sign_time=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null) ||
      die "signing needs a fixed time: give --sign-time (Unix seconds) or SOURCE_DATE_EPOCH; this source tree has no commit to take it from"
  fi
  [[ "$sign_time" =~ ^[0-9]+$ ]] || die "$given must be Unix seconds, not '$sign_time'"
}

say "checking the inputs"
ensure_deps
check_payload
check_signing
choose_archs
say "$ARCH_LINE"

# --- Build and checks -------------------------------------------------------

options=()
[ -z "$payload" ] || options+=(-DCURATO_PAYLOAD_DIR="$payload")
[ -z "$cert" ] || options+=(-DCURATO_SIGN_CERT="$cert" -DCURATO_SIGN_KEY="$key" -DCURATO_SIGN_TIME="$sign_time")

build() {
  local arch=$1 dir
  dir=$RELEASE_BUILD/$arch
  say "building the $(describe "$arch") in $dir (log: $dir/build.log)"
  mkdir -p "$dir"
  if ! { cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$(toolchain "$arch")" "${options[@]}" &&
         cmake --build "$dir" -j"$(nproc)" --target release_checks; } >"$dir/build.log" 2>&1; then
    grep -E -B2 -A6 'error|Error' "$dir/build.log" | tail -40 >&2 || true
    die "the $(describe "$arch") failed; the full log is $dir/build.log"
  fi
  say "  setup.exe: $(sed -n 's/^  total *//p' "$dir/setup/size-report.txt")"
}

run_checks() {
  local arch=$1 dir
  dir=$RELEASE_BUILD/$arch
  say "running the release checks of the $(describe "$arch") (log: $dir/checks.log)"
  wine_use "$arch"
  if ! (cd "$dir" && WINEPREFIX=$dir/wineprefix ctest -L release --output-on-failure -j"$(nproc)" \
          >"$dir/checks.log" 2>&1); then
    tail -40 "$dir/checks.log" >&2
    die "the release checks of the $(describe "$arch") failed; the full log is $dir/checks.log"
  fi
  say "  $(grep -E 'tests passed' "$dir/checks.log" | tail -1)"
}

# A signature verifies against the given certificate (a self-signed one) or
# the system's certificate authorities (a certificate one of them issued).
verify_signature() {
  local exe=$1 trusted=$RELEASE_BUILD/trusted.pem log=$RELEASE_BUILD/verify.log
  cat "$cert" >"$trusted"
  [ ! -r /etc/ssl/certs/ca-certificates.crt ] || cat /etc/ssl/certs/ca-certificates.crt >>"$trusted"
  if ! osslsigncode verify -CAfile "$trusted" -in "$exe" >"$log" 2>&1 ||
     ! grep -q '^Signature verification: ok' "$log"; then
    tail -20 "$log" >&2
    die "the signature of $exe does not verify (osslsigncode verify)"
  fi
  say "  $exe: $(grep '^Signature verification' "$log")"
}

# The wizard walked through the install with the release's setup.exe, a
# picture of each page on the way.
walk() {
  local arch=$1 dir
  dir=$RELEASE_BUILD/$arch
  say "walking the wizard through the install with the $(describe "$arch")'s setup.exe"
  if ! DRIVER_TIME_LIMIT=300 "$ROOT/tests/common/run-in-desktop.sh" "$dir/walk-wineprefix" "$dir/walk" \
         SETUP_EXE="$dir/setup/setup.exe" \
         -- "$dir/tests/gui/setup_gui_test.exe" --gtest_also_run_disabled_tests \
            --gtest_filter=SetupGuiWalk.DISABLED_WalkThrough >"$dir/walk.log" 2>&1; then
    cat "$dir/walk.log" >&2
    die "the walk through the wizard failed; its log is $dir/walk.log"
  fi
}

rm -rf "$RELEASE_BUILD"
for arch in win32 win64; do
  build "$arch"
done
for arch in $RUN_ARCHS; do
  run_checks "$arch"
done
if [ -n "$cert" ]; then
  say "verifying the signatures"
  for arch in win32 win64; do
    verify_signature "$RELEASE_BUILD/$arch/setup/setup.exe"
  done
fi
walked=${RUN_ARCHS%% *}
walk "$walked"

# --- dist/ ------------------------------------------------------------------

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$RELEASE_BUILD/win32/CMakeCache.txt")
name=$(sed -n 's/^CMAKE_PROJECT_NAME:STATIC=//p' "$RELEASE_BUILD/win32/CMakeCache.txt")
exe_name() { echo "$name-$version-$1.exe"; }

# The SHA-256 of "sha256sum *" over the payload files as setup.exe names them.
payload_digest() {
  (cd "$RELEASE_BUILD/$1/payload/files" && LC_ALL=C sha256sum -- * | sha256sum | cut -d' ' -f1)
}

source_line() {
  local commit
  commit=$(git -C "$ROOT" rev-parse HEAD 2>/dev/null) || { echo "not a git checkout"; return; }
  if [ -n "$(git -C "$ROOT" status --porcelain --untracked-files=no)" ]; then
    echo "git commit $commit with uncommitted changes (the commit alone does not reproduce it)"
  else
    echo "git commit $commit"
  fi
}

signed_line() {
  if [ -z "$cert" ]; then
    echo "no"
  else
    echo "yes, Authenticode (SHA-256) by $(openssl x509 -in "$cert" -noout -subject -nameopt RFC2253 | sed 's/^subject=//'),"
    echo "         signing time $sign_time ($(date -u -d "@$sign_time" '+%Y-%m-%d %H:%M:%S UTC')), no time stamp"
  fi
}

reproduce_command() {
  local command="bash scripts/release.sh"
  [ -z "$payload" ] || command+=" --payload $(printf '%q' "$payload")"
  [ -z "$cert" ] || command+=" --cert $(printf '%q' "$cert") --key $(printf '%q' "$key") --sign-time $sign_time"
  echo "$command"
}

write_release_txt() {
  local arch
  echo "$name $version"
  echo
  echo "Source:  $(source_line)"
  if [ -n "$payload" ]; then echo "Payload: the product files in $payload"; else echo "Payload: the stand-in product files built from payload/"; fi
  echo "Payload digest (SHA-256 of \"sha256sum *\" over the 55 files as setup.exe names them):"
  for arch in win32 win64; do
    echo "  $arch  $(payload_digest "$arch")"
  done
  echo "Files:"
  for arch in win32 win64; do
    echo "  $(exe_name "$arch")  $(sed -n 's/^  total *//p' "$RELEASE_BUILD/$arch/setup/size-report.txt")"
  done
  echo "Signed:  $(signed_line)"
  echo "Checked: the release checks (ctest -L release) of $(sed 's/ / and /' <<<"$RUN_ARCHS"); the wizard walked"
  echo "         through the install with $walked (its pictures are in walk-$walked/)"
  echo
  echo "Reproduce, on Debian 12 in a checkout of the same commit:"
  echo "  $(reproduce_command)"
}

say "writing $DIST"
mkdir -p "$STAGE/walk-$walked"
for arch in win32 win64; do
  cp "$RELEASE_BUILD/$arch/setup/setup.exe" "$STAGE/$(exe_name "$arch")"
  sed "1s|.*|size of $(exe_name "$arch")|" "$RELEASE_BUILD/$arch/setup/size-report.txt" \
    >"$STAGE/$(exe_name "$arch" | sed 's/\.exe$//').size-report.txt"
done
cp "$RELEASE_BUILD/$walked/walk/"walk-*.png "$STAGE/walk-$walked/"
write_release_txt >"$STAGE/RELEASE.txt"
(cd "$STAGE" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
   xargs -d '\n' sha256sum >SHA256SUMS && sha256sum --quiet -c SHA256SUMS)
mv "$STAGE" "$DIST"
trap - EXIT
(cd "$DIST" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' stat -c '  %8s  %n')
say "done: $DIST ($(describe win32) and $(describe win64), $([ -n "$cert" ] && echo signed || echo unsigned))"
