#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libusb-1.0-0-dev libcli11-dev libtomlplusplus-dev libgtest-dev libgmock-dev zlib1g-dev
  gcc-arm-none-eabi libnewlib-arm-none-eabi binutils-arm-none-eabi
  libunicorn-dev
  qt6-base-dev xvfb xauth x11-utils
  clang libclang-rt-14-dev
  binutils hyperfine
  ser2net python3-labgrid python3-pytest
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64 wixl imagemagick
  umockdev libumockdev-dev
  dpkg-dev fakeroot lintian desktop-file-utils appstream bash-completion man-db groff-base
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
