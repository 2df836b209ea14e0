#!/usr/bin/env bash
# Runs the tests with threads of their own under ThreadSanitizer
# (build-tsan/): the picture and animation tests, the Internet API's tests
# (its worker thread and the status callbacks), the HTTP client's, and the
# bridge's sessions under load. Fails on any report.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${TSAN_BUILD_DIR:-build-tsan}"
if [ ! -f "$build/build.ninja" ]; then
  # -O1 -g1: the reports keep their file and line, the build is far quicker.
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread" -DCMAKE_C_FLAGS="-fsanitize=thread" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" >/dev/null
fi
ninja -C "$build" test_images test_inet test_net test_bridge >/dev/null
export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
# Runs a test program quietly: its summary when it passes, its failures and
# reports when it does not.
quiet() {
  local log
  log=$(mktemp)
  if "$@" >"$log" 2>&1; then
    tail -2 "$log"
    rm -f "$log"
  else
    grep -E -A12 'FAILED|Failure|ThreadSanitizer' "$log" | head -150
    rm -f "$log"
    return 1
  fi
}
# The four programs run at once (they mostly wait for their servers and
# the bridge), each printing when it ends.
quiet "$build/bin/test_images" --gtest_brief=1 \
  --gtest_filter='GifSuite.Animations*:GifDecoder.AFirstDelay*:Picture.*' &
images=$!
quiet "$build/bin/test_inet" --gtest_brief=1 &
inet=$!
quiet "$build/bin/test_net" --gtest_brief=1 &
net=$!

# The bridge's sessions, each on a thread of its own, under load (fewer in a
# row than the usual thousand); the bridge runs ThreadSanitized as the
# tests start it, and its reports land in files.
reports=$(mktemp -d)
TSAN_OPTIONS="halt_on_error=1 exitcode=66 log_path=$reports/report suppressions=$PWD/scripts/tsan.supp" \
  BRIDGE_LOAD_SESSIONS=100 \
  quiet "$build/bin/test_bridge" --gtest_brief=1 \
  --gtest_filter='BridgeGate.*:BridgeSession.*:BridgeLoad.*' || failed=1
for program in $images $inet $net; do
  wait "$program" || failed=1
done
[ -n "${failed:-}" ] || echo "ThreadSanitizer: picture, animation, Internet API and HTTP client tests clean"
if ls "$reports"/report* >/dev/null 2>&1; then
  cat "$reports"/report*
  rm -rf "$reports"
  exit 1
fi
rm -rf "$reports"
[ -z "${failed:-}" ] || exit 1
echo "ThreadSanitizer: the bridge's sessions and load clean"
