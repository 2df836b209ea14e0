#!/usr/bin/env bash
# Builds the Debian package from the build tree (build/, or BUILD_DIR) into
# its package/ folder and prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
scripts/build.sh >/dev/null
cd "$build"
cpack -G DEB >/dev/null
ls "$PWD"/package/quillbay_*.deb
