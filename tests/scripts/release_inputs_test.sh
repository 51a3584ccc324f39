#!/bin/bash
# release.sh refuses bad input in one line before it builds anything, and
# leaves no dist/: a folder lacking product files (named), a certificate or key
# it cannot read, a key that is not the certificate's, half a signing setting.
# It runs from a copy of the scripts in a scratch tree, so that the dist/ it
# removes is the scratch tree's own.
# Usage: release_inputs_test.sh SOURCE_DIR PAYLOAD_FILES_DIR
set -uo pipefail
src=$1 files=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/release-inputs.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

mkdir -p "$work/tree/payload" "$work/files"
cp -r "$src/scripts" "$work/tree/"
cp "$src/payload/names.cmake" "$work/tree/payload/"
cp "$files"/* "$work/files/"
for who in signer other; do
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=$who" \
    -keyout "$work/$who-key.pem" -out "$work/$who-cert.pem" 2>/dev/null
done
openssl pkey -in "$work/signer-key.pem" -aes256 -passout pass:secret -out "$work/encrypted-key.pem"
echo "not a certificate" >"$work/junk.pem"

# Runs release.sh with ARGS on a tree holding a finished-looking dist/; the
# case passes when it fails with exactly the line EXPECTED and no dist/ is left.
refuses() {
  local expected=$1 out status
  shift
  mkdir -p "$work/tree/dist" && touch "$work/tree/dist/RELEASE.txt"
  out=$(CURATO_DEPS_DONE=1 bash "$work/tree/scripts/release.sh" "$@" 2>&1)
  status=$?
  out=$(grep -v '^release.sh: checking the inputs$' <<<"$out")
  if [ "$status" -eq 0 ] || [ "$out" != "release.sh: $expected" ] || [ -e "$work/tree/dist" ]; then
    echo "FAILED [release.sh $*]: status $status, dist/ $([ -e "$work/tree/dist" ] && echo left || echo gone); printed:"
    echo "$out"
    echo "expected: release.sh: $expected"
    failures=$((failures + 1))
  fi
}

mv "$work/files/curato.mdb" "$work/curato.mdb"
refuses "the product files' folder $work/files lacks 1 of the 55 files: curato.mdb" --payload "$work/files"
mv "$work/files/site_5.lyo" "$work/files/SITE_5.LYO"   # names match without regard to case
rm "$work/files/gde_10.gde" && mkdir "$work/files/gde_10.gde"   # a folder is no file
refuses "the product files' folder $work/files lacks 2 of the 55 files: curato.mdb gde_10.gde" --payload "$work/files"
refuses "the product files' folder $work/missing does not exist" --payload "$work/missing"

signing=(--payload "$files" --sign-time 1700000000)
refuses "signing needs both --cert and --key" "${signing[@]}" --cert "$work/signer-cert.pem"
refuses "cannot read the certificate $work/none.pem (a PEM certificate): Could not open file or uri for loading certificate from $work/none.pem" \
  "${signing[@]}" --cert "$work/none.pem" --key "$work/signer-key.pem"
refuses "cannot read the certificate $work/junk.pem (a PEM certificate): Could not read certificate from $work/junk.pem" \
  "${signing[@]}" --cert "$work/junk.pem" --key "$work/signer-key.pem"
refuses "cannot read the private key $work/encrypted-key.pem (an unencrypted PEM key): Could not read key from $work/encrypted-key.pem" \
  "${signing[@]}" --cert "$work/signer-cert.pem" --key "$work/encrypted-key.pem"
refuses "the private key $work/other-key.pem does not match the certificate $work/signer-cert.pem" \
  "${signing[@]}" --cert "$work/signer-cert.pem" --key "$work/other-key.pem"
refuses "--sign-time must be Unix seconds, not 'yesterday'" \
  --cert "$work/signer-cert.pem" --key "$work/signer-key.pem" --sign-time yesterday

[ "$failures" -eq 0 ] && echo "every bad input was refused before the build" || { echo "$failures cases failed"; exit 1; }
