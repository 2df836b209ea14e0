#!/usr/bin/env bash
# Runs ctest in a build folder (arguments go to ctest) and then looks at
# every skipped test: a test may skip only because a corpus folder beside
# the repository is missing (a plain clone). Any other skip (a fixture whose
# set-up failed makes googletest report its tests as skipped) fails the run.
# Lists the corpus tests it skipped, with the folder each missed.
set -uo pipefail
build="$1"
shift
cd "$build"
ctest "$@"
status=$?
log=Testing/Temporary/LastTest.log
[ -f "$log" ] || exit "$status"
awk '
  /^[0-9]+\/[0-9]+ Testing: / { name = $3; skipped = 0; corpus = "" }
  /Skip regular expression found in output/ { skipped = 1 }
  /corpus folder .* is missing/ && corpus == "" { corpus = $0; sub(/.*corpus folder /, "", corpus); sub(/ is missing.*/, "", corpus) }
  / end time: / && skipped {
    if (corpus != "") { printf "skipped %s: corpus folder %s is missing\n", name, corpus }
    else { printf "skipped %s without a missing corpus: its set-up failed\n", name; bad = 1 }
    skipped = 0
  }
  END { exit bad }
' "$log" || status=1
exit "$status"
