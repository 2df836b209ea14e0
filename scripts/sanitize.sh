#!/usr/bin/env bash
# Builds everything with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ (SANITIZE_BUILD_DIR to change
# it) and runs the whole ctest of that build: every test that any part of
# the project adds is covered. Fails on any report: an overflow, a leak or
# undefined behaviour. The fuzz targets come from the same build
# (scripts/fuzz.sh). Suppressions, for third-party libraries only, are in
# tests/sanitizers/.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${SANITIZE_BUILD_DIR:-build-asan}"
if [ ! -f "$build/build.ninja" ]; then
  # -O1 with line tables only: what the sanitizers advise, enough for their
  # reports' file and line, and far quicker to build than -O2 -g.
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG" \
    -DQUILLBAY_SANITIZE=ON >/dev/null
fi
ninja -C "$build" ${NINJA_FLAGS:-} > "$build/ninja.log" || { grep -v '^\[' "$build/ninja.log" | tail -40; exit 1; }
if [ "${1:-}" = "--build-only" ]; then
  exit 0
fi
supp="$PWD/tests/sanitizers"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:exitcode=86:detect_stack_use_after_return=0"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp"
# The thousand sessions in a row, and the jobs each of eight processes ends
# at once, are fewer here, where each is slower.
export BRIDGE_LOAD_SESSIONS=300 JOB_END_JOBS=50
# shellcheck disable=SC2086
scripts/ctest-checked.sh "$build" --output-on-failure --timeout 900 ${CTEST_FLAGS:-}
echo "AddressSanitizer and UndefinedBehaviorSanitizer: every test clean"
