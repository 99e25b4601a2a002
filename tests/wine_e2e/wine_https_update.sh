#!/usr/bin/env bash
# The real Kestrun.exe, built for an https:// address, under Wine against nginx with
# deploy/nginx's configuration and a certificate of a test CA made here: a first installation,
# then a run with nothing to update, each ending with exit code 0, no crash and the run's last
# log line. The CA is trusted only in the test's own Wine prefix, never on the host; the
# certificate names a revocation list that nothing serves, which only a best-effort check
# passes. (Wine 8's Schannel checks no certificate when the program leaves the check to it, as
# Kestrun does; Windows checks both, and so will a Wine that checks.)
#
#   tests/wine_e2e/wine_https_update.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE [PORT]
#
# WINDOWS_BUILD is a build directory of its own for this Kestrun.exe; VARDEL_EXE a Windows
# program that stands in for Vardel.exe; PORT the loopback port built in (default 47636).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
native=${1:?usage: wine_https_update.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE [PORT]}
windows=${2:?} vardel=${3:?} port=${4:-47636}
if ! reason=$(sh "$root/deploy/nginx/run-local.sh" --check); then echo "skipped: $reason"; exit 0; fi
cmake --build "$native" -j "${KESTRUN_JOBS:-2}" --target kestrun-publish >/dev/null
KESTRUN_BUILD_TARGETS=Kestrun bash "$root/scripts/windows-build.sh" "$windows" \
  -DKESTRUN_BASE_URL="https://127.0.0.1:$port" >/dev/null

source "$root/tests/support/wine_script.sh"
wine_script_begin wine-https
fail() {
  echo "FAIL: $*" >&2
  cat "$work"/run-*.err "$work"/install/logs/*.log "$work"/nginx/error.log >&2 2>/dev/null || true
  exit 1
}

tls=$work/tls
mkdir -p "$tls" "$work/source/data" "$work/install"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kestrun Test CA" -keyout "$tls/ca.key" \
  -out "$tls/ca.crt" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$tls/server.key" -out "$tls/server.csr" 2>/dev/null
printf '%s\n' "subjectAltName=IP:127.0.0.1" "extendedKeyUsage=serverAuth" \
  "crlDistributionPoints=URI:http://127.0.0.1:9/test-ca.crl" >"$tls/server.ext"
openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
  -extfile "$tls/server.ext" -out "$tls/server.crt" 2>/dev/null

start_wine

# Wine's crypt32 reads the current user's root store from the registry: a key named by the
# certificate's SHA-1 whose Blob is the certificate property (id 32, then 1, then the length).
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
openssl x509 -in "$tls/ca.crt" -outform DER -out "$tls/ca.der"
thumbprint=$(openssl x509 -in "$tls/ca.crt" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
blob="$(le32 32)$(le32 1)$(le32 "$(stat -c %s "$tls/ca.der")")$(od -An -v -tx1 "$tls/ca.der" | tr -d ' \n')"
wine reg add "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumbprint" /v Blob \
  /t REG_BINARY /d "$blob" /f >/dev/null 2>&1 || fail "could not add the test CA to Wine's root store"

cp "$vardel" "$work/source/Vardel.exe"
printf 'colour = blue\n' >"$work/source/data/config.txt"
"$native/tools/publish/kestrun-publish" --source "$work/source" --site "$work/site" --platform windows \
  >/dev/null || fail "could not publish"
sh "$root/deploy/nginx/run-local.sh" --site "$work/site" --listen "127.0.0.1:$port" --prefix "$work/nginx" \
  --tls "$tls/server.crt" "$tls/server.key" >"$work/nginx.out" 2>&1 &
stop_at_exit $!
manifest="https://127.0.0.1:$port/gis/update/list?platform=windows"
for _ in $(seq 150); do curl -sfo /dev/null --cacert "$tls/ca.crt" "$manifest" && break; sleep 0.1; done
curl -sfo /dev/null --cacert "$tls/ca.crt" "$manifest" || fail "nginx does not answer: $(cat "$work/nginx.out")"
cp "$windows/launcher/Kestrun.exe" "$work/install/Kestrun.exe"

run() {
  local status=0
  echo "wine_https_update: $1"
  timeout 180 wine "$work/install/Kestrun.exe" >/dev/null 2>"$work/run-$1.err" || status=$?
  [[ $status == 0 ]] || fail "$1: Kestrun.exe ended with $status"
  ! grep -Eiq 'unhandled|page fault|exception' "$work/run-$1.err" || fail "$1: Wine reported a crash"
  [[ "$(tail -n1 "$work"/install/logs/kestrun-*.log)" == *'[INFO] [pid='*'] Kestrun 本次运行结束' ]] ||
    fail "$1: the log does not end with the run's last line"
}
run first-installation
[[ "$(cat "$work/install/data/config.txt" 2>/dev/null)" == "colour = blue" ]] || fail "the release was not installed"
run second-check
[[ "$(grep -c '更新检查完成：待更新文件=0' "$work"/install/logs/kestrun-*.log)" == 1 ]] ||
  fail "the second run did not find the installation up to date"
echo "wine_https_update: passed"
