#!/usr/bin/env bash
# Runs the whole ctest of a build N times in a row (default 3) while two CPU
# hogs of its own keep the machine busy, as another build and a few servers
# would; it starts them before the first run and stops them after the last.
# Says after each run which tests failed, by name, and at the end how many
# runs were clean. Exits non-zero when any run failed.
#
#   scripts/stress-tests.sh [N]                     the plain build (BUILD_DIR, default build)
#   STRESS_SANITIZED=1 scripts/stress-tests.sh [N]  the sanitizer build (scripts/sanitize.sh,
#                                                   built when missing)
#
# Too long for CI; its outcome goes into the notes of a change that touches
# the tests' timing.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"
if [ -n "${STRESS_SANITIZED:-}" ]; then
  build="${SANITIZE_BUILD_DIR:-build-asan}"
  scripts/sanitize.sh --build-only
  run() { scripts/sanitize.sh; }
else
  build="${BUILD_DIR:-build}"
  [ -f "$build/build.ninja" ] || { echo "stress-tests.sh: no build in $build (scripts/build.sh)" >&2; exit 1; }
  ninja -C "$build" >/dev/null
  run() { scripts/ctest-checked.sh "$build" --output-on-failure --timeout 600; }
fi

hogs=()
stop_hogs() {
  for pid in "${hogs[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
trap stop_hogs EXIT
for _ in 1 2; do
  (while :; do :; done) &
  hogs+=($!)
done
echo "stress-tests.sh: $runs run(s) of the whole ctest of $build beside two CPU hogs (${hogs[*]})"

failed=0
for ((i = 1; i <= runs; i++)); do
  started=$SECONDS
  rm -f "$build/Testing/Temporary/LastTestsFailed.log"
  if run >"$build/stress-run-$i.log" 2>&1; then
    echo "run $i: clean in $((SECONDS - started)) s"
  else
    failed=$((failed + 1))
    echo "run $i: FAILED in $((SECONDS - started)) s (log: $build/stress-run-$i.log)"
    if [ -f "$build/Testing/Temporary/LastTestsFailed.log" ]; then
      sed 's/^[0-9]*:/  failed: /' "$build/Testing/Temporary/LastTestsFailed.log"
    fi
    grep -E '^skipped .* set-up failed|Sanitizer|^FAILED|^test.sh' "$build/stress-run-$i.log" |
      sed 's/^/  /' | head -20 || true
  fi
done
echo "stress-tests.sh: $((runs - failed)) of $runs run(s) clean"
[ "$failed" -eq 0 ]
