#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need, when
# any of them is missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  dpkg-dev file
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libpng-dev
  clang-14 libfuzzer-14-dev
  netpbm xvfb xauth x11-utils imagemagick
  # The Windows stage: the cross compiler, GoogleTest's sources to build for
  # it, and Wine. wine64 only recommends wine, which holds the wine,
  # wineboot and wineserver commands, so both are named.
  g++-mingw-w64-x86-64 googletest wine wine64
  # The other processors' stage: their cross compilers and qemu-user.
  g++-i686-linux-gnu g++-arm-linux-gnueabihf g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user
)
if [ "${1:-}" = "--web" ]; then
  packages+=(emscripten node-acorn chromium python3)
fi
if [ "${1:-}" = "--measure" ]; then
  # The demo measured and soaked in a real window: a small window manager
  # to minimise it, and xdotool to drive it.
  packages+=(xdotool twm)
fi
if [ "${1:-}" = "--bench" ]; then
  packages+=(liballegro5-dev liballegro-image5-dev liballegro4-dev libpixman-1-dev libsdl2-image-dev
            python3-pil python3-matplotlib)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
