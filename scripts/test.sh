#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
# The decoders' fuzz targets, a bounded run each; the animation thread
# under ThreadSanitizer.
scripts/fuzz.sh
scripts/tsan.sh
cd "${BUILD_DIR:-build}"
ctest --output-on-failure -j2 --timeout 600
