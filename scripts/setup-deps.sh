#!/usr/bin/env bash
# Installs the Debian packages that building and running the demo need, and
# those of the groups named (--test, --python, --windows, --cross, --web,
# --js, --measure, --bench, --package), when any of them is missing. Uses sudo
# when not run as root.
set -euo pipefail

# What building and running the demo needs; every other group adds to it.
packages=(build-essential cmake pkg-config libsdl2-dev libx11-dev libpng-dev)
for group in "$@"; do
  case "$group" in
    --test)
      # The native tests, the sanitizer build (clang with libc++), the
      # thread sanitizer's runtime (GCC's), the install check, the fuzzers,
      # the demo in a virtual X server, and access lists on saved files (acl).
      packages+=(git dpkg-dev file libgtest-dev libgmock-dev libtsan2
                 clang-14 libc++-14-dev libc++abi-14-dev libclang-rt-14-dev libfuzzer-14-dev
                 netpbm xvfb xauth x11-utils imagemagick acl) ;;
    --python)
      # The Python module: its wheel's build (setuptools, no package index),
      # a virtual environment to install it into, and what it and its tests
      # import.
      packages+=(python3-dev python3-setuptools python3-wheel python3-build python3-venv
                 python3-numpy python3-pil python3-pytest) ;;
    --windows)
      # The cross compiler, GoogleTest's sources to build for it, and Wine.
      # wine64 only recommends wine, which holds the wine, wineboot and
      # wineserver commands, so both are named.
      packages+=(g++-mingw-w64-x86-64 googletest wine wine64 xvfb xauth x11-utils imagemagick) ;;
    --cross)
      # Other processors: Debian's cross compilers, run under qemu-user.
      packages+=(googletest qemu-user g++-i686-linux-gnu g++-arm-linux-gnueabihf
                 g++-aarch64-linux-gnu g++-s390x-linux-gnu) ;;
    --web)
      packages+=(emscripten node-acorn chromium python3) ;;
    --js)
      # The npm package and its tests: Node.js with npm, and TypeScript's
      # compiler to check the package's types. A Node.js from elsewhere
      # (NodeSource's) brings its own npm, which Debian's would conflict with.
      packages+=(nodejs node-typescript)
      command -v npm >/dev/null || packages+=(npm) ;;
    --measure)
      # The demo measured and soaked in a real window: a small window manager
      # to minimise it, and xdotool to drive it.
      packages+=(xvfb xauth x11-utils imagemagick xdotool twm) ;;
    --package)
      # The Debian packages' build (its dependencies in debian/control) and
      # checks, the shared library's interface check (abidiff), and the
      # reference documentation.
      # python3-pixmora's build with pybuild, and what its import needs.
      packages+=(debhelper dpkg-dev fakeroot libgtest-dev lintian desktop-file-utils appstream abigail-tools doxygen
                 dh-python pybuild-plugin-pyproject python3-all-dev python3-setuptools python3-wheel python3-build
                 python3-numpy python3-pil) ;;
    --bench)
      packages+=(libbenchmark-dev liballegro5-dev liballegro-image5-dev liballegro4-dev libpixman-1-dev
                 libsdl2-image-dev python3-pil python3-matplotlib python3-numpy python3-dev python3-setuptools
                 python3-wheel python3-build) ;;
    *)
      echo "setup-deps.sh: unknown group $group" >&2
      exit 2 ;;
  esac
done

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
