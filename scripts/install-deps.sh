#!/usr/bin/env bash
# Installs the Debian 12 packages the native build, the cross builds and the
# tests need, and for the Wine tests generates the Japanese locale. Does
# nothing when all is present already.
set -euo pipefail

packages=(
  cmake make g++ pkg-config git ca-certificates python3 openssl curl zip unzip
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libcurl4-openssl-dev
  libcpp-httplib-dev libssl-dev clang clang-format libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libz-mingw-w64-dev wixl msitools osslsigncode faketime
)
if [ "${TOLVEX_WITH_WINE:-1}" = 1 ]; then
  packages+=(wine wine64 wine32:i386 libwine-dev xvfb xauth fonts-ipafont-gothic xdotool imagemagick
             locales)
fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# The Wine tests run a Japanese Windows in this locale; Japanese file names
# and arguments reach Windows programs intact only where it is generated.
japanese_locale() {
  [ "${TOLVEX_WITH_WINE:-1}" = 1 ] || return 0
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' && return 0
  $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  japanese_locale
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
japanese_locale
