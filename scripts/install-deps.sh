#!/usr/bin/env bash
# Installs the Debian 12 packages the native build, the cross builds and the
# tests need. Does nothing when they are all present already.
set -euo pipefail

packages=(
  cmake make g++ pkg-config git ca-certificates python3 openssl curl zip unzip
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libcurl4-openssl-dev
  libcpp-httplib-dev libssl-dev clang clang-format libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev wixl
)
if [ "${TOLVEX_WITH_WINE:-1}" = 1 ]; then
  packages+=(wine wine64 wine32:i386 libwine-dev xvfb xauth fonts-ipafont-gothic xdotool imagemagick)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
