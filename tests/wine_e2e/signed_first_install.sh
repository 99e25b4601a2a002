#!/usr/bin/env bash
# The release's signing step on the real Kestrun.exe: a throwaway CA made here issues a
# code-signing certificate and a timestamp authority; scripts/windows-sign.sh signs a copy
# of Kestrun.exe with osslsigncode's built-in timestamp authority, `osslsigncode verify`
# accepts it against that CA, a certificate without the code-signing purpose is refused and
# leaves its file untouched, `kestrun-publish --require-signed` refuses the release until its
# Vardel.exe is signed too, and the signed Kestrun.exe then installs that release under Wine.
#
#   tests/wine_e2e/signed_first_install.sh NATIVE_BUILD KESTRUN_EXE VARDEL_EXE PORT
#
# KESTRUN_EXE is built with -DKESTRUN_BASE_URL=http://127.0.0.1:PORT; NATIVE_BUILD holds
# kestrun-publish and the release server. Wine gets a fresh prefix and its own Xvfb display, stopped by their handles.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
usage="usage: signed_first_install.sh NATIVE_BUILD KESTRUN_EXE VARDEL_EXE PORT"
native=${1:?$usage} kestrun=${2:?$usage} vardel=${3:?$usage} port=${4:?$usage}

source "$root/tests/support/wine_script.sh"
wine_script_begin signed

echo "signed_first_install: a throwaway CA, a code-signing certificate and a timestamp authority"
source "$root/tests/support/throwaway_pki.sh"
make_throwaway_ca
issue_certificate signer codeSigning
issue_certificate timestamps critical,timeStamping
issue_certificate webserver serverAuth
publish() {
  "$native/tools/publish/kestrun-publish" --source "$work/source" --site "$work/site" --platform windows \
    --require-signed >/dev/null 2>"$work/publish.log"
}
mkdir -p "$work/install" "$work/source/data"
cp "$vardel" "$work/source/Vardel.exe"
printf 'colour = blue\n' >"$work/source/data/config.txt"
if publish; then fail "an unsigned Vardel.exe was published"; fi
grep -q '^kestrun-publish: not signed: Vardel.exe: no Authenticode signature$' "$work/publish.log" ||
  fail "$(cat "$work/publish.log")"

signed=$work/install/Kestrun.exe
cp "$kestrun" "$signed"
sign_with signer "$signed" "$work/source/Vardel.exe" || fail "signing Kestrun.exe and Vardel.exe failed"
verify_signed "$signed"

echo "signed_first_install: a certificate without the code-signing purpose is refused"
cp "$kestrun" "$work/refused.exe"
if sign_with webserver "$work/refused.exe" 2>"$work/refused.log"; then fail "a server certificate signed Kestrun.exe"; fi
grep -q 'the new signature does not verify; the file is unchanged' "$work/refused.log" ||
  fail "$(cat "$work/refused.log")"
cmp -s "$kestrun" "$work/refused.exe" || fail "the refused signature changed the file"
ls -A "$work" | grep -q signing && fail "a half-signed file was left behind"

echo "signed_first_install: the signed release is published and the signed Kestrun.exe installs it under Wine"
publish || fail "the signed release was refused: $(cat "$work/publish.log")"
start_release_server "$native" "$work/site/current" "$port"
start_wine
timeout 180 wine "$signed" >/dev/null 2>&1 || fail "the signed Kestrun.exe did not end"
[[ "$(cat "$work/install/data/config.txt" 2>/dev/null)" == "colour = blue" ]] || fail "the release was not installed"
cmp -s "$work/source/Vardel.exe" "$work/install/Vardel.exe" || fail "the signed Vardel.exe was not installed"
echo "signed_first_install: passed"
