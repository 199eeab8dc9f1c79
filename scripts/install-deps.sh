#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need.
# Safe to run again: apt-get skips what is already there.
# Usage: scripts/install-deps.sh [demo]
#   demo: only what the main job needs (scripts/demo.sh builds sealbench-cli and
#   vireo-sim and flashes a virtual board); without it, everything.
set -euo pipefail

# The command line, the library, the built-in flash programs (the ARM compiler and
# its libgcc; they need no C library) and the virtual board's emulated core.
demo_packages=(
  build-essential cmake ninja-build pkg-config git
  libusb-1.0-0-dev libcli11-dev libtomlplusplus-dev zlib1g-dev
  gcc-arm-none-eabi binutils-arm-none-eabi
  libunicorn-dev
)
packages=(
  "${demo_packages[@]}"
  libgtest-dev libgmock-dev libnewlib-arm-none-eabi
  qt6-base-dev xvfb xauth x11-utils
  clang libclang-rt-14-dev
  binutils hyperfine
  ser2net python3-labgrid python3-pytest
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64 wixl imagemagick
  umockdev libumockdev-dev
  dpkg-dev fakeroot lintian desktop-file-utils appstream bash-completion man-db groff-base
)

case "${1:-}" in
  "") ;;
  demo) packages=("${demo_packages[@]}") ;;
  *)
    echo "usage: $0 [demo]" >&2
    exit 2
    ;;
esac

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
