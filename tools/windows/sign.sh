#!/usr/bin/env bash
# sign.sh FILE...: signs Windows programs, DLLs and MSI packages in place with
# osslsigncode (SHA-256) when a certificate is given:
#   VELTRANE_SIGN_PFX            the certificate and its private key, PKCS#12
#   VELTRANE_SIGN_PASSWORD       its password
#   VELTRANE_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server, so
#                                that signatures outlive the certificate
# With neither of the first two set it signs nothing and says so; with only
# one of them it fails. The signature names the product and its web page
# (VELTRANE_SIGN_NAME, VELTRANE_SIGN_URL, set by tools/windows/package.sh).
set -euo pipefail
pfx=${VELTRANE_SIGN_PFX:-}
password_given=${VELTRANE_SIGN_PASSWORD+yes}
if [ -z "$pfx" ] && [ -z "$password_given" ]; then
  echo "Not signed (set VELTRANE_SIGN_PFX and VELTRANE_SIGN_PASSWORD to sign): ${*##*/}"
  exit 0
fi
if [ -z "$pfx" ] || [ -z "$password_given" ]; then
  echo "sign.sh: VELTRANE_SIGN_PFX and VELTRANE_SIGN_PASSWORD go together; only one is set" >&2
  exit 1
fi
if [ ! -r "$pfx" ]; then
  echo "sign.sh: cannot read the certificate $pfx (VELTRANE_SIGN_PFX)" >&2
  exit 1
fi
timestamp=()
[ -n "${VELTRANE_SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$VELTRANE_SIGN_TIMESTAMP_URL")
for file in "$@"; do
  # The password goes through a pipe, never on a command line.
  if ! osslsigncode sign -pkcs12 "$pfx" -readpass <(printf '%s' "$VELTRANE_SIGN_PASSWORD") \
    -h sha256 -n "${VELTRANE_SIGN_NAME:-Veltrane}" ${VELTRANE_SIGN_URL:+-i "$VELTRANE_SIGN_URL"} \
    "${timestamp[@]}" -in "$file" -out "$file.signed" >"$file.sign-log" 2>&1; then
    cat "$file.sign-log" >&2
    rm -f "$file.signed" "$file.sign-log"
    echo "sign.sh: signing $file failed" >&2
    exit 1
  fi
  rm -f "$file.sign-log"
  mv "$file.signed" "$file"
  echo "Signed: $file"
done
