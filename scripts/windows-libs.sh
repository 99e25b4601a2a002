#!/usr/bin/env bash
# Cross-builds the libraries of the Windows launcher from their source archives:
# libcurl (static, Schannel, SSPI with NTLM and SPNEGO), FLTK 1.3 (static, bundled
# PNG/zlib/JPEG), libsodium (static, minimal), zstd (static) and the header-only cpp-httplib
# for the Windows test servers.
#
#   scripts/windows-libs.sh <prefix>
#
# The archives come from $KESTRUN_WINDOWS_SOURCES or from shared/thirdparty beside the
# checkout, and are checked against its SHA256SUMS before anything is unpacked. A prefix that
# was built from the same archives with the same configuration is kept as it is; a finished
# prefix is also kept in the machine's cache ($KESTRUN_CACHE, default ~/.cache/kestrun) so
# that another checkout on this machine copies it instead of building it again.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:?usage: windows-libs.sh <prefix>}
jobs=${KESTRUN_JOBS:-2}
archives=(curl-8.21.0.tar.xz fltk-1.3.9.tar.xz libsodium-1.0.22.tar.xz zstd-1.5.6.tar.xz cpp-httplib-0.11.4.tar.xz)

find_sources() {
  local candidate
  for candidate in "${KESTRUN_WINDOWS_SOURCES:-}" "$root/../shared/thirdparty"; do
    [[ -n "$candidate" && -f "$candidate/SHA256SUMS" ]] && { cd "$candidate" && pwd; return; }
  done
  cat >&2 <<EOF
windows-libs: no source archives found.
The Windows launcher links libcurl and FLTK built from source. Fetch the release archives
  curl-8.21.0.tar.xz   (libcurl 8.21.0)
  fltk-1.3.9.tar.xz    (FLTK 1.3.9)
together with libsodium-1.0.22.tar.xz, zstd-1.5.6.tar.xz, cpp-httplib-0.11.4.tar.xz and a SHA256SUMS file that
lists them, put them in one folder and name it in KESTRUN_WINDOWS_SOURCES
(or place them in shared/thirdparty beside this checkout).
EOF
  exit 1
}
sources=$(find_sources)

# Verify every archive before any of them is unpacked.
for archive in "${archives[@]}"; do
  [[ -f "$sources/$archive" ]] || { echo "windows-libs: $sources/$archive is missing" >&2; exit 1; }
  grep -q " $archive\$" "$sources/SHA256SUMS" || { echo "windows-libs: $archive is not listed in SHA256SUMS" >&2; exit 1; }
done
(cd "$sources" && grep -E " ($(IFS='|'; echo "${archives[*]}"))\$" SHA256SUMS | sha256sum -c --quiet -) \
  || { echo "windows-libs: checksum mismatch in $sources" >&2; exit 1; }

# The prefix's identity: the archives' checksums and the configuration's version. Raise the
# version with every change of the options below. (FLTK never builds fluid when cross-compiled.)
config_version=2

# Behind a company proxy the launcher answers the proxy's challenge as the logged-on user
# (Negotiate or NTLM through SSPI): a libcurl without them must never reach a build.
check_curl_features() {
  local features feature
  features=$(sed -n 's/^supported_features="\(.*\)"$/\1/p' "$prefix/lib/pkgconfig/libcurl.pc" 2>/dev/null)
  for feature in SSPI NTLM SPNEGO; do
    if [[ " $features " != *" $feature "* ]]; then
      echo "windows-libs: libcurl in $prefix lacks $feature (it has: ${features:-nothing}); proxy logon needs SSPI, NTLM and SPNEGO" >&2
      exit 1
    fi
  done
}
stamp=$( (grep -E " ($(IFS='|'; echo "${archives[*]}"))\$" "$sources/SHA256SUMS" | sort; echo "$config_version") | sha256sum | cut -c1-16)
if [[ -f "$prefix/.kestrun-stamp" && "$(cat "$prefix/.kestrun-stamp")" == "$stamp" ]]; then
  echo "windows-libs: $prefix is up to date"
  check_curl_features
  exit 0
fi
cache=${KESTRUN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrun}/windows-libs-$stamp
if [[ -f "$cache/.kestrun-stamp" ]]; then
  echo "windows-libs: copying the cached build from $cache"
  rm -rf "$prefix"; mkdir -p "$(dirname "$prefix")"
  cp -a "$cache" "$prefix"
  check_curl_features
  exit 0
fi

echo "windows-libs: building curl, FLTK, libsodium and zstd for Windows into $prefix"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrun-winlibs.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"; mkdir -p "$prefix/include"
for archive in "${archives[@]}"; do tar -xf "$sources/$archive" -C "$work"; done
toolchain="$root/cmake/mingw-w64-x86_64.cmake"

cmake -S "$work/curl-8.21.0" -B "$work/curl-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
  -DCURL_USE_LIBPSL=OFF -DUSE_LIBIDN2=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
  -DUSE_NGHTTP2=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_DISABLE_LDAP=ON -DBUILD_CURL_EXE=OFF \
  -DBUILD_TESTING=OFF -DBUILD_EXAMPLES=OFF -DBUILD_LIBCURL_DOCS=OFF -DBUILD_MISC_DOCS=OFF \
  -DENABLE_CURL_MANUAL=OFF -DCURL_WINDOWS_SSPI=ON -DCURL_ENABLE_NTLM=ON >"$work/curl-configure.log" 2>&1
cmake --build "$work/curl-build" -j "$jobs" >"$work/curl-build.log" 2>&1 || { tail -40 "$work/curl-build.log" >&2; exit 1; }
cmake --install "$work/curl-build" >/dev/null
check_curl_features

cmake -S "$work/fltk-1.3.9" -B "$work/fltk-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DOPTION_BUILD_SHARED_LIBS=OFF -DFLTK_BUILD_TEST=OFF \
  -DOPTION_USE_SYSTEM_LIBPNG=OFF -DOPTION_USE_SYSTEM_ZLIB=OFF -DOPTION_USE_SYSTEM_LIBJPEG=OFF \
  -DOPTION_USE_GL=OFF >"$work/fltk-configure.log" 2>&1
cmake --build "$work/fltk-build" -j "$jobs" >"$work/fltk-build.log" 2>&1 || { tail -40 "$work/fltk-build.log" >&2; exit 1; }
cmake --install "$work/fltk-build" >/dev/null

(cd "$work/libsodium-1.0.22" &&
  ./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix --prefix="$prefix" \
    --disable-shared --enable-static --enable-minimal >"$work/sodium-configure.log" 2>&1 &&
  make -j "$jobs" >"$work/sodium-build.log" 2>&1 && make install >/dev/null) \
  || { tail -40 "$work/sodium-configure.log" "$work/sodium-build.log" >&2 2>/dev/null; exit 1; }

cmake -S "$work/zstd-1.5.6/build/cmake" -B "$work/zstd-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF \
  -DZSTD_MULTITHREAD_SUPPORT=OFF >"$work/zstd-configure.log" 2>&1
cmake --build "$work/zstd-build" -j "$jobs" >"$work/zstd-build.log" 2>&1 || { tail -40 "$work/zstd-build.log" >&2; exit 1; }
cmake --install "$work/zstd-build" >/dev/null

cp "$work"/cpp-httplib-0.11.4/httplib.h "$prefix/include/httplib.h"

echo "$stamp" >"$prefix/.kestrun-stamp"
if mkdir -p "$(dirname "$cache")" 2>/dev/null; then
  rm -rf "$cache.tmp"
  cp -a "$prefix" "$cache.tmp" && mv -T "$cache.tmp" "$cache" || rm -rf "$cache.tmp"
fi
echo "windows-libs: done"
