#!/usr/bin/env bash
# Signing as the bank would sign with its own certificate, here a throwaway
# self-signed one made with openssl: tools/windows/package.sh, given
# VELTRANE_SIGN_PFX and VELTRANE_SIGN_PASSWORD, signs veltrane.exe, enn.exe,
# the DLL and the installer, and `osslsigncode verify` finds each signature
# and checks it against the certificate, and so does the command of IT's
# guide beside the installer; the unsigned deliveries of
# tools/windows/build.sh carry none, and a wrong password fails the build.
# Needs tools/windows/build.sh's build (BUILD_DIR). Ends on "N passed,
# N failed".
set -euo pipefail
cd "$(dirname "$0")/../.."
# shellcheck source=tools/windows/harness.sh
. tools/windows/harness.sh
bash tools/install-missing.sh openssl osslsigncode msitools unzip

work_folder signing-test

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Veltrane test signing" \
  -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
password='throwaway pass'
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/signing.pfx" \
  -passout "pass:$password"

export VELTRANE_SIGN_PFX=$work/signing.pfx
check "the deliveries build signed" env VELTRANE_SIGN_PASSWORD="$password" \
  OUT_DIR="$work/signed" BUILD_DIR="$build" bash tools/windows/package.sh
check "a wrong password fails the build, leaving no delivery" sh -c "! VELTRANE_SIGN_PASSWORD=wrong \
  OUT_DIR='$work/wrong' BUILD_DIR='$build' bash tools/windows/package.sh &&
  test -z \"\$(ls -A '$work/wrong')\""
check "only a certificate without its password fails the build" sh -c "! OUT_DIR='$work/half' \
  BUILD_DIR='$build' bash tools/windows/package.sh"
unset VELTRANE_SIGN_PFX

verified() {
  local report
  report=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>&1) &&
    grep -q '^Signature verification: ok' <<<"$report"
}
unsigned() {
  local report
  ! report=$(osslsigncode verify -in "$1" 2>&1) && grep -qi 'no signature' <<<"$report"
}
signed_msi=$work/signed/veltrane-$version-win64.msi
msiextract -C "$work/msi" "$signed_msi" >/dev/null
unzip -q "$work/signed/enn-$version-win64.zip" -d "$work/kit"
kit=$work/kit/enn-$version-win64
check "the installer is signed" verified "$signed_msi"
check "the veltrane.exe it installs is signed" verified "$(find "$work/msi" -name veltrane.exe)"
check "the kit's enn.exe is signed" verified "$kit/bin/enn.exe"
check "the kit's enn-1.dll is signed" verified "$kit/bin/enn-1.dll"
# The check IT's guide gives, run as it stands beside the signed installer.
guide_check=$(awk '/^```sh/ { inside = 1; next } /^```/ { inside = 0 } inside && /^osslsigncode verify/' \
  "$work/signed/veltrane-$version-win64-deployment.txt" | tr -d '\r')
check "IT's guide says how to check the installer's signature" test -n "$guide_check"
check "and its command finds the signer" \
  sh -c "cd '$work/signed' && $guide_check 2>&1 | grep -q 'Veltrane test signing'"
check "the unsigned build's installer carries no signature" unsigned "$root/$build/veltrane-$version-win64.msi"
unzip -q "$root/$build/enn-$version-win64.zip" -d "$work/unsigned"
check "nor does the unsigned kit's enn.exe" unsigned "$work/unsigned/enn-$version-win64/bin/enn.exe"

checks_summary
