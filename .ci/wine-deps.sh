#!/usr/bin/env bash
# Packages for the Windows cross build and its tests under Wine
# (tests/wine/run.sh). Run as root on Debian 12.
set -euo pipefail
dpkg --add-architecture i386
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wixl \
  wine wine64 wine32:i386 libwine-dev \
  xvfb xauth xdotool imagemagick fonts-ipafont-gothic \
  openssl python3 locales
# The Japanese Windows of the Wine tests takes its code page from this locale.
sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
locale-gen
