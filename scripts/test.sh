#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole ctest of
# the build, the whole ctest again under AddressSanitizer and UBSan, the
# fuzz targets (from the sanitizer build) and the animation thread under
# ThreadSanitizer. Each stage says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
# The tests must leave the machine as they found it: / and /tmp keep their
# modes and owners (a test changes the mode only of folders it made).
modes() { stat -c '%n %a %U:%G' / /tmp; }
before=$(modes)
kept() {
  local after
  after=$(modes)
  if [ "$after" != "$before" ]; then
    printf 'test.sh: the tests changed the machine'"'"'s folders\n  before: %s\n  after:  %s\n' \
      "${before//$'\n'/; }" "${after//$'\n'/; }" >&2
    exit 1
  fi
}
trap kept EXIT
stage() {
  local started=$SECONDS
  "$@"
  echo "test.sh: $* took $((SECONDS - started)) s"
}
stage scripts/setup.sh
stage scripts/build.sh
stage scripts/sanitize.sh
stage scripts/fuzz.sh
stage scripts/tsan.sh
stage scripts/ctest-checked.sh "${BUILD_DIR:-build}" --output-on-failure -j2 --timeout 600
