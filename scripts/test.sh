#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole ctest of
# the build, the whole ctest again under AddressSanitizer and UBSan, the
# fuzz targets (from the sanitizer build) and the animation thread under
# ThreadSanitizer. Each stage says how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
# The tests must leave the machine as they found it: / and /tmp keep their
# modes and owners (a test changes the mode only of folders it made); the
# machine's registry and the browsers' managed policies (which every account
# and browser of the machine reads) stay byte for byte as they were.
machine_places="/var/lib/quillbay /etc/chromium/policies /etc/opt/chrome/policies
  /etc/opt/edge/policies /etc/firefox-esr /etc/firefox /usr/lib/firefox-esr/distribution
  /usr/lib/firefox/distribution"
machine() {
  local place
  stat -c '%n %a %U:%G' / /tmp
  for place in $machine_places; do
    if [ -e "$place" ]; then
      find "$place" -printf '%p %m %U:%G %s %y\n' | sort
      find "$place" -type f -print0 | sort -z | xargs -0 -r sha256sum
    else
      echo "$place: none"
    fi
  done
}
before=$(machine)
kept() {
  local after
  after=$(machine)
  if [ "$after" != "$before" ]; then
    echo "test.sh: the tests changed the machine's folders, registry or browser policies:" >&2
    diff <(echo "$before") <(echo "$after") | sed 's/^/  /' >&2
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
stage scripts/ctest-checked.sh "${BUILD_DIR:-build}" --output-on-failure --timeout 600
