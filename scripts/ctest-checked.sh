#!/usr/bin/env bash
# Runs ctest in a build folder (arguments go to ctest) and then looks at
# every skipped test: a test may skip only because a corpus folder beside
# the repository is missing (a plain clone). Any other skip (a fixture whose
# set-up failed makes googletest report its tests as skipped) fails the run.
# Lists the corpus tests it skipped, with the folder each missed, and the
# ten slowest tests of the run.
#
# Most tests wait (for servers, browsers, a printer's job), so more of them
# run at once than the machine has cores: CTEST_PARALLEL_LEVEL, twice the
# cores unless set. The heavy ones each hold one of the machine's cores (the
# resource "cores", one slot a core), so no more of them run at once than
# there are cores.
set -uo pipefail
build="$1"
shift
cd "$build"
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-$((2 * $(nproc)))}"
output=$(mktemp)
resources=$(mktemp)
cores=$(seq 0 $(($(nproc) - 1)) | sed 's/.*/{"id": "&", "slots": 1}/' | paste -sd,)
echo '{"version": {"major": 1, "minor": 0}, "local": [{"cores": ['"$cores"']}]}' >"$resources"
ctest --resource-spec-file "$resources" "$@" | tee "$output"
status=${PIPESTATUS[0]}
rm -f "$resources"
echo "the ten slowest tests:"
# "  3/469 Test  #12: Name ......   Passed    1.23 sec"
awk '/ Test +#[0-9]+: / { printf "%10.2f s  %s\n", $(NF - 1), $4 }' "$output" | sort -rn | head -10
rm -f "$output"
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
