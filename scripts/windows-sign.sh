#!/usr/bin/env bash
# Signs Windows executables and libraries (PE files) in place with Authenticode: SHA-256, an
# RFC 3161 timestamp, then a verification of what was signed. Run it after the build and
# before kestrun-publish, so that the release's sizes, hashes and patches are the signed files'.
#
#   bash scripts/windows-sign.sh KEY TIMESTAMP [--ca FILE] [--description TEXT] FILE...
#
# KEY, one of:
#   --cert FILE --key FILE                                 PEM certificate (chain) and key
#   --pkcs12 FILE [--password-file FILE]                   a .pfx/.p12 file
#   --pkcs11-module LIB --pkcs11-cert ID --key ID          a hardware token (EV certificates)
#     (--password-file FILE gives the token's PIN; without it the token module asks or needs none)
# TIMESTAMP, one of:
#   --timestamp URL      an RFC 3161 timestamp authority; repeat it to name fallbacks, tried in order
#   --test-timestamp CERT KEY
#                        osslsigncode's built-in timestamp authority (CERT: the authority's
#                        certificate, then its CA), so that tests need no network
# --ca FILE              the CA bundle the verification trusts (default: the system's)
#
# Each file is signed into a temporary file, verified, and only then renamed over the original:
# a failure leaves the original untouched and stops the script with a message. The temporary
# files live in a private folder (mktemp -d) beside the file, so that nobody else can plant a
# link at their names and the rename stays on one file system.
set -euo pipefail

fail() {
  echo "windows-sign: $*" >&2
  exit 1
}

key_args=()
key_kind=""
timestamps=()
test_tsa=()
ca_file=""
description="Fennick"
password_file=""
cert="" key="" pkcs12="" module="" token_cert=""
files=()

while [ $# -gt 0 ]; do
  case "$1" in
    --cert) cert=${2:?--cert needs a file}; shift 2 ;;
    --key) key=${2:?--key needs a file or a token key id}; shift 2 ;;
    --pkcs12) pkcs12=${2:?--pkcs12 needs a file}; shift 2 ;;
    --password-file) password_file=${2:?--password-file needs a file}; shift 2 ;;
    --pkcs11-module) module=${2:?--pkcs11-module needs a library}; shift 2 ;;
    --pkcs11-cert) token_cert=${2:?--pkcs11-cert needs an id}; shift 2 ;;
    --timestamp) timestamps+=("${2:?--timestamp needs a URL}"); shift 2 ;;
    --test-timestamp)
      [ $# -ge 3 ] || fail "--test-timestamp needs the authority's certificate and key"
      test_tsa=(-TSA-certs "$2" -TSA-key "$3"); shift 3 ;;
    --ca) ca_file=${2:?--ca needs a file}; shift 2 ;;
    --description) description=${2:?--description needs a text}; shift 2 ;;
    --) shift; files+=("$@"); break ;;
    -*) fail "unknown option $1" ;;
    *) files+=("$1"); shift ;;
  esac
done

command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (Debian: apt-get install osslsigncode)"

# Exactly one way to reach the key.
if [ -n "$module" ]; then
  [ -n "$token_cert" ] && [ -n "$key" ] || fail "a token needs --pkcs11-module, --pkcs11-cert and --key"
  key_kind=token
  key_args=(-pkcs11module "$module" -pkcs11cert "$token_cert" -key "$key")
fi
if [ -n "$pkcs12" ]; then
  [ -z "$key_kind" ] || fail "give one key: --cert/--key, --pkcs12 or --pkcs11-module"
  key_kind=pkcs12
  key_args=(-pkcs12 "$pkcs12")
fi
if [ -n "$cert" ]; then
  [ -z "$key_kind" ] || fail "give one key: --cert/--key, --pkcs12 or --pkcs11-module"
  [ -n "$key" ] || fail "--cert needs --key"
  key_kind=pem
  key_args=(-certs "$cert" -key "$key")
fi
[ -n "$key_kind" ] || fail "no key given: --cert FILE --key FILE, --pkcs12 FILE or --pkcs11-module LIB"
[ -z "$password_file" ] || key_args+=(-readpass "$password_file")
for file in "$cert" "$pkcs12" "$password_file" "$ca_file"; do
  [ -z "$file" ] || [ -r "$file" ] || fail "cannot read $file"
done
[ "$key_kind" != pem ] || [ -r "$key" ] || fail "cannot read $key"

# A signature without a timestamp dies with its certificate: one is always required.
if [ ${#timestamps[@]} -gt 0 ] && [ ${#test_tsa[@]} -gt 0 ]; then
  fail "give --timestamp or --test-timestamp, not both"
fi
[ ${#timestamps[@]} -gt 0 ] || [ ${#test_tsa[@]} -gt 0 ] ||
  fail "no timestamp authority: --timestamp URL or --test-timestamp CERT KEY"
[ ${#files[@]} -gt 0 ] || fail "no file to sign"

verify_args=()
[ -z "$ca_file" ] || verify_args=(-CAfile "$ca_file" -TSA-CAfile "$ca_file")

work=""
trap '[ -z "$work" ] || rm -rf "$work"' EXIT

# Signs `$1` into `$2` with one timestamp source (the remaining arguments).
sign_into() {
  local from=$1 to=$2; shift 2
  rm -f "$to"
  osslsigncode sign "${key_args[@]}" -h sha256 -n "$description" "$@" -in "$from" -out "$to" >"$to.log" 2>&1
}

for file in "${files[@]}"; do
  [ -f "$file" ] || fail "no such file: $file"
  work=$(mktemp -d "$(dirname "$file")/.kestrun-sign.XXXXXXXX")
  pending="$work/$(basename "$file")"
  signed=false
  if [ ${#test_tsa[@]} -gt 0 ]; then
    sign_into "$file" "$pending" "${test_tsa[@]}" && signed=true
  else
    for url in "${timestamps[@]}"; do
      if sign_into "$file" "$pending" -ts "$url"; then signed=true; break; fi
      echo "windows-sign: $file: timestamp authority $url failed, trying the next one" >&2
    done
  fi
  if ! $signed; then
    grep -v ":error:" "$pending.log" >&2 || true
    rm -f "$pending.log"
    fail "$file: signing or timestamping failed; the file is unchanged"
  fi
  rm -f "$pending.log"
  if ! report=$(osslsigncode verify "${verify_args[@]}" -in "$pending" 2>&1) ||
     ! grep -q "^Timestamp verified using" <<<"$report"; then
    grep -E "Unsupported|[Ee]rror|[Ff]ailed|^Timestamp|^Signature" <<<"$report" >&2 || echo "$report" >&2
    fail "$file: the new signature does not verify; the file is unchanged"
  fi
  mv -f "$pending" "$file"
  rm -rf "$work"
  work=""
  echo "windows-sign: signed and timestamped $file"
done
