#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian machine.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config python3
  libcurl4-openssl-dev nlohmann-json3-dev
  libfltk1.3-dev libxft-dev libfontconfig-dev libpng-dev zlib1g-dev fonts-wqy-zenhei
  libgtest-dev googletest libcpp-httplib-dev
  g++-mingw-w64-x86-64-posix wine wine64
  xvfb xdotool imagemagick x11-utils
  curl openssl nginx libnginx-mod-http-set-misc varnish libsodium-dev libssl-dev libzstd-dev tinyproxy libasio-dev rapidjson-dev
  clang libclang-rt-14-dev
  osslsigncode nsis
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
