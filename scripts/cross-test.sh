#!/usr/bin/env bash
# Cross-builds the project and its tests for another architecture and runs
# the whole ctest under user-mode emulation, from this machine.
#
#   cross-test.sh ARCH [CTEST ARGUMENTS...]      e.g. cross-test.sh arm64 -R Jpeg
#
# build.sh --arch installs the cross tools and builds in build-ARCH/ (or
# BUILD_DIR). ctest starts each test program through the build's emulator
# (CMAKE_CROSSCOMPILING_EMULATOR, qemu-CPU -L /), and the test support
# starts the built programs a test runs through it too; QUILLBAY_EMULATOR
# names it to the tests, and those that cannot run under emulation skip,
# saying why. The run fails when a test fails, or skips without saying why
# (under emulation, or a corpus folder missing beside the repository).
#
# The tests hold the machine's cores as test.sh's run does (a ctest
# resource "cores"); CTEST_PARALLEL_LEVEL as there, twice the cores.
set -uo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: cross-test.sh ARCH [CTEST ARGUMENTS...]" >&2; exit 2; }
arch=$1
shift
[ "$arch" != "$(dpkg --print-architecture)" ] ||
  { echo "cross-test.sh: $arch is this machine's own architecture: run scripts/test.sh" >&2; exit 2; }
build="${BUILD_DIR:-build-$arch}"
started=$SECONDS
BUILD_DIR="$build" scripts/build.sh --arch "$arch" || exit 1
echo "cross-test.sh: the $arch build took $((SECONDS - started)) s"

cpu=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_CPU 2>/dev/null)
export QUILLBAY_EMULATOR="$(command -v "qemu-$cpu") -L /"

cd "$build"
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$((2 * $(nproc)))}"
resources=$(mktemp)
output=$(mktemp)
trap 'rm -f "$resources" "$output"' EXIT
cores=$(seq 0 $(($(nproc) - 1)) | sed 's/.*/{"id": "&", "slots": 1}/' | paste -sd,)
echo '{"version": {"major": 1, "minor": 0}, "local": [{"cores": ['"$cores"']}]}' >"$resources"
started=$SECONDS
ctest --resource-spec-file "$resources" --output-on-failure --timeout 900 "$@" | tee "$output"
status=${PIPESTATUS[0]}
echo "cross-test.sh: the tests under emulation took $((SECONDS - started)) s"

# Every skip says why: the first line of its output that does. The skipped
# tests are those ctest reported so ("***Skipped"); their output is in the
# log.
log=Testing/Temporary/LastTest.log
[ -f "$log" ] || exit "$status"
skipped=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\*\*\*Skipped.*/\1/p' "$output")
awk -v skipped="$skipped" '
  BEGIN { n = split(skipped, names, "\n"); for (i = 1; i <= n; i++) if (names[i] != "") wanted[names[i]] = 1 }
  function close_test() {
    if (name in wanted) {
      if (why != "") { printf "skipped %s: %s\n", name, why }
      else { printf "skipped %s without saying why\n", name; bad = 1 }
    }
    name = ""; why = ""; inside = 0
  }
  /^[0-9]+\/[0-9]+ Testing: / { close_test(); name = $3; next }
  /^Output:$/ { inside = 1; next }
  /^<end of output>$/ { inside = 0; next }
  inside && why == "" && /under emulation: |corpus folder .* is missing|SKIPPED: / {
    why = $0; sub(/^.*(under emulation: |SKIPPED: )/, "", why)
    sub(/^.*corpus folder /, "corpus folder ", why)
  }
  END { close_test(); exit bad }
' "$log" || status=1
grep -E '^[0-9]+% tests passed' "$output" || true
exit "$status"
