#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j2 --timeout 600
cd - >/dev/null
# The decoders' fuzz targets, a bounded run each.
scripts/fuzz.sh
