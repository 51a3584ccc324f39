#!/bin/bash
# Signs a Windows program in place with an Authenticode signature (SHA-256),
# made by osslsigncode from a certificate and its private key in PEM form.
# TIME, in Unix seconds, is the signing time written into the signature: with
# a fixed time and no time-stamp server the signed file comes out the same,
# byte for byte, from the same program, certificate and key. The program is
# replaced only once signing has succeeded.
# Usage: sign.sh CERT KEY TIME DESCRIPTION EXE
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: sign.sh CERT KEY TIME DESCRIPTION EXE" >&2; exit 2; }
cert=$1 key=$2 time=$3 description=$4 exe=$5

fail() { echo "sign.sh: $exe: $*" >&2; exit 1; }
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (scripts/deps.sh installs it)"
[ -r "$cert" ] || fail "cannot read the certificate $cert"
[ -r "$key" ] || fail "cannot read the private key $key"
[[ "$time" =~ ^[0-9]+$ ]] || fail "the signing time must be Unix seconds, not '$time'"

signed=$exe.signed
trap 'rm -f "$signed"' EXIT
if ! out=$(osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "$description" \
             -time "$time" -in "$exe" -out "$signed" 2>&1); then
  fail "osslsigncode could not sign it: $out"
fi
mv "$signed" "$exe"
