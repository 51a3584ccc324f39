#!/bin/bash
# Signs copies of setup.exe with a throw-away certificate the way the build
# does and checks them with osslsigncode verify: the signature verifies against
# that certificate, two signings give the same bytes, one changed byte breaks
# the signature, and a signing that fails leaves the file as it was.
# Usage: sign_test.sh SETUP_EXE SIGN_SCRIPT
set -euo pipefail
exe=$1 sign=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/sign-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=CuratoNet test signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" ||
  { cat "$work/openssl.log" >&2; fail "openssl could not make a certificate"; }
now=$(date +%s)
for copy in first second; do
  cp "$exe" "$work/$copy.exe"
  "$sign" "$work/cert.pem" "$work/key.pem" "$now" "CuratoNet Setup" "$work/$copy.exe"
done

osslsigncode verify -CAfile "$work/cert.pem" -in "$work/first.exe" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log" >&2; fail "osslsigncode verify rejects the signed setup.exe"; }
grep -q '^Signature verification: ok' "$work/verify.log" || fail "no 'Signature verification: ok'"
echo "signed; osslsigncode verify: $(grep -E '^Signature verification' "$work/verify.log")"
cmp -s "$work/first.exe" "$work/second.exe" || fail "two signings of the same file differ"

# One byte of the payload changed after signing.
cp "$work/first.exe" "$work/changed.exe"
printf '\xff' | dd of="$work/changed.exe" bs=1 seek=$(($(stat -c %s "$exe") / 2)) conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/changed.exe" >/dev/null 2>&1; then
  fail "osslsigncode verify accepts a changed file"
fi

cp "$exe" "$work/unsigned.exe"
if "$sign" "$work/cert.pem" "$work/missing-key.pem" "$now" "CuratoNet Setup" "$work/unsigned.exe" 2>/dev/null; then
  fail "signing with a missing key reports success"
fi
cmp -s "$exe" "$work/unsigned.exe" || fail "a failed signing changed the file"
[ ! -e "$work/unsigned.exe.signed" ] || fail "a failed signing left a half-signed file"
echo "a changed byte breaks the signature; a failed signing leaves the file as it was"
