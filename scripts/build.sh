#!/usr/bin/env bash
# Configures and builds the project in build/ (BUILD_DIR to change it).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" ${NINJA_FLAGS:-}
