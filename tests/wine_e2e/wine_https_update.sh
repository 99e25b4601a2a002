#!/usr/bin/env bash
# The real Kestrun.exe, built for an https:// address, under Wine against nginx with the
# project's own configuration (deploy/nginx) and a certificate from a test CA made here: a first
# installation, then a second run with nothing to update. Both must end with exit code 0, no
# crash and the run's last log line. The server's certificate names a revocation list that no
# one serves, so every run also shows that the revocation check is best-effort.
#
#   tests/wine_e2e/wine_https_update.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE [PORT]
#
# NATIVE_BUILD   a Linux build directory (kestrun-publish is built there when missing)
# WINDOWS_BUILD  a build directory of its own for the https Kestrun.exe (scripts/windows-build.sh)
# VARDEL_EXE     a Windows program that stands in for Vardel.exe and ends by itself
# PORT           the loopback port built into that Kestrun.exe (default 47636)
# The test CA is trusted only inside the test's own Wine prefix (its current user's root store
# in the registry), never on the host. Wine and Xvfb are stopped by their own handles.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
usage="usage: wine_https_update.sh NATIVE_BUILD WINDOWS_BUILD VARDEL_EXE [PORT]"
native=${1:?$usage}
windows=${2:?$usage}
vardel=${3:?$usage}
port=${4:-47636}
jobs=${KESTRUN_JOBS:-2}

if reason=$(sh "$root/deploy/nginx/run-local.sh" --check); then :; else
  echo "wine_https_update: skipped: $reason"
  exit 0
fi
cmake --build "$native" -j "$jobs" --target kestrun-publish >/dev/null
KESTRUN_BUILD_TARGETS=Kestrun bash "$root/scripts/windows-build.sh" "$windows" \
  -DKESTRUN_BASE_URL="https://127.0.0.1:$port" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-wine-https.XXXXXX")
xvfb_pid="" nginx_pid=""
cleanup() {
  if [[ -d "$work/prefix" ]]; then WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; fi
  for pid in "$nginx_pid" "$xvfb_pid"; do
    if [[ -n "$pid" ]]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  cat "$work"/run-*.err "$work"/install/logs/*.log "$work"/nginx/error.log >&2 2>/dev/null || true
  exit 1
}

# The test CA and the server's certificate for IP 127.0.0.1, whose revocation list lives on a
# loopback port where nothing answers.
tls=$work/tls
mkdir -p "$tls"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kestrun Test CA" -keyout "$tls/ca.key" \
  -out "$tls/ca.crt" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$tls/server.key" -out "$tls/server.csr" 2>/dev/null
printf '%s\n' "subjectAltName=IP:127.0.0.1" "extendedKeyUsage=serverAuth" "basicConstraints=CA:FALSE" \
  "crlDistributionPoints=URI:http://127.0.0.1:9/test-ca.crl" >"$tls/server.ext"
openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
  -extfile "$tls/server.ext" -out "$tls/server.crt" 2>/dev/null

Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || fail "Xvfb did not start"
# winedbg stays off: a crash then ends the program with its exception code instead of waiting
# in the debugger.
export DISPLAY=":$(head -n1 "$work/display")" WINEPREFIX="$work/prefix" WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
wineboot -i >/dev/null 2>&1

# Wine's crypt32 reads the current user's root store from the registry: one value, named by
# the certificate's SHA-1, holding the certificate property (id 32) and its DER bytes.
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
openssl x509 -in "$tls/ca.crt" -outform DER -out "$tls/ca.der"
thumbprint=$(openssl x509 -in "$tls/ca.crt" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
blob="$(le32 32)$(le32 1)$(le32 "$(stat -c %s "$tls/ca.der")")$(od -An -v -tx1 "$tls/ca.der" | tr -d ' \n')"
wine reg add "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumbprint" \
  /v Blob /t REG_BINARY /d "$blob" /f >/dev/null 2>&1 || fail "could not add the test CA to Wine's root store"

mkdir -p "$work/source/data" "$work/install"
cp "$vardel" "$work/source/Vardel.exe"
printf 'colour = blue\n' >"$work/source/data/config.txt"
"$native/tools/publish/kestrun-publish" --source "$work/source" --site "$work/site" --platform windows \
  >/dev/null || fail "could not publish"
sh "$root/deploy/nginx/run-local.sh" --site "$work/site" --listen "127.0.0.1:$port" --prefix "$work/nginx" \
  --tls "$tls/server.crt" "$tls/server.key" >"$work/nginx.out" 2>&1 &
nginx_pid=$!
for _ in $(seq 100); do
  curl -s -o /dev/null --cacert "$tls/ca.crt" "https://127.0.0.1:$port/gis/update/list?platform=windows" && break
  kill -0 "$nginx_pid" 2>/dev/null || fail "nginx did not start: $(cat "$work/nginx.out")"
  sleep 0.1
done
cp "$windows/launcher/Kestrun.exe" "$work/install/Kestrun.exe"

# One run: exit code 0, nothing from Wine about a crash, and the run's last log line last.
run() {
  local name=$1 status=0
  echo "wine_https_update: $name"
  timeout 180 wine "$work/install/Kestrun.exe" >"$work/run-$name.out" 2>"$work/run-$name.err" || status=$?
  [[ $status == 0 ]] || fail "$name: Kestrun.exe ended with $status"
  ! grep -Eiq 'unhandled|page fault|exception' "$work/run-$name.err" || fail "$name: Wine reported a crash"
  [[ "$(tail -n1 "$work"/install/logs/kestrun-*.log)" == *'[INFO] [pid='*'] Kestrun 本次运行结束' ]] ||
    fail "$name: the log does not end with the run's last line"
}

run first-installation
[[ "$(cat "$work/install/data/config.txt" 2>/dev/null)" == "colour = blue" ]] || fail "the release was not installed"
grep -q '更新检查完成：待更新文件=' "$work"/install/logs/kestrun-*.log || fail "no check over HTTPS in the log"
run second-check
[[ "$(grep -c '更新检查完成：待更新文件=0' "$work"/install/logs/kestrun-*.log)" == 1 ]] ||
  fail "the second run found something to update"
echo "wine_https_update: passed"
