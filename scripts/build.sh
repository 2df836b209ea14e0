#!/usr/bin/env bash
# Configures and builds the project in build/ (BUILD_DIR to change it).
#
#   build.sh [--arch ARCH]
#
# --arch names a Debian architecture (arm64): on a machine of another one it
# installs what a cross build needs when any is missing (the architecture
# for multiarch, Debian's cross compilers, the ARCH development packages,
# qemu-user to run the build's own tools) and cross-builds in build-ARCH/
# (BUILD_DIR to change it) with cmake/TRIPLET.cmake. On a machine of that
# architecture it is the native build.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=""
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch="${2:?--arch needs an architecture}"; shift 2 ;;
    --arch=*) arch="${1#--arch=}"; shift ;;
    *) echo "usage: build.sh [--arch ARCH]" >&2; exit 2 ;;
  esac
done
[ "$arch" = "$(dpkg --print-architecture)" ] && arch=""

# The libraries the build, its tests and benchmarks link, and the ODBC
# drivers the tests load, for the target (tools such as cmake, scdoc and
# tsc run on the build machine and come from setup.sh).
cross_packages() {
  local a=$1 p
  echo "crossbuild-essential-$a qemu-user"
  for p in libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev libffi-dev libmujs-dev \
    libcairo2-dev libfontconfig-dev libcups2-dev libdbus-1-dev libgif-dev libzxing-dev \
    libcurl4-openssl-dev libpsl-dev libssl-dev unixodbc-dev libgtk-3-dev libpng-dev \
    libjpeg-dev zlib1g-dev libpoppler-cpp-dev libboost1.74-dev libsqliteodbc odbc-postgresql; do
    echo "$p:$a"
  done
}

cross_setup() {
  local a=$1 sudo="" missing=() p
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  scripts/setup.sh
  if ! dpkg --print-foreign-architectures | grep -qx "$a"; then
    echo "build: adding the $a architecture" >&2
    $sudo dpkg --add-architecture "$a"
  fi
  for p in $(cross_packages "$a"); do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "build: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

if [ -z "$arch" ]; then
  build="${BUILD_DIR:-build}"
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
else
  triplet=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null) ||
    { echo "build: $arch is no Debian architecture" >&2; exit 2; }
  toolchain="$PWD/cmake/$triplet.cmake"
  [ -f "$toolchain" ] || { echo "build: no toolchain file for $arch (cmake/$triplet.cmake)" >&2; exit 2; }
  cross_setup "$arch"
  build="${BUILD_DIR:-build-$arch}"
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
  fi
fi
ninja -C "$build" ${NINJA_FLAGS:-}
