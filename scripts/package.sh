#!/usr/bin/env bash
# Builds the Debian package from the build tree into its package/ folder and
# prints the package's path as the last line.
#
#   package.sh [--arch ARCH]
#
# Without --arch, the package of this machine's architecture from build/
# (or BUILD_DIR). With --arch (arm64) on a machine of another architecture,
# build.sh --arch installs the cross tools and cross-builds in build-ARCH/
# (or BUILD_DIR), and the package is made for ARCH: its Architecture is
# ARCH's, its dependencies those of ARCH's libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=""
case "${1:-}" in
  --arch) arch="${2:?--arch needs an architecture}" ;;
  --arch=*) arch="${1#--arch=}" ;;
  "") ;;
  *) echo "usage: package.sh [--arch ARCH]" >&2; exit 2 ;;
esac
[ "$arch" = "$(dpkg --print-architecture)" ] && arch=""
if [ -n "$arch" ]; then
  build="${BUILD_DIR:-build-$arch}"
  BUILD_DIR="$build" scripts/build.sh --arch "$arch" >/dev/null
else
  build="${BUILD_DIR:-build}"
  scripts/build.sh >/dev/null
fi
cd "$build"
# "CPack: - package: /path/quillbay_1.0.0_arm64.deb generated."
out=$(cpack -G DEB) || { echo "$out" >&2; exit 1; }
made=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$out" | tail -1)
[ -n "$made" ] && [ -f "$made" ] || { echo "$out" >&2; echo "package.sh: cpack made no package" >&2; exit 1; }
echo "$made"
