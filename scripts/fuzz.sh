#!/usr/bin/env bash
# Runs each fuzz target (libFuzzer, AddressSanitizer, UBSan) for a bounded
# time (FUZZ_SECONDS, default 10): the decoders from the public image suites
# beside the repository (../shared/corpora), or from the project's own
# pictures where those are missing; the PDF417 encoder, the resource
# reader, the registry's key paths, the page reader, the type-library
# loader, the registration-script interpreter and the bridge's request and
# WebSocket message paths and its sequences of messages each from a few
# seeds of their own
# (tests/fuzz/NAME-seeds). Each target's scratch files (its
# hives, its temporary files) go to a folder of its own, removed after. The
# targets come from the sanitizer build (scripts/sanitize.sh, build-asan/),
# built here when missing; as many run at once as the machine has cores.
# Fails when a target crashed. Pictures
# up to the system's 100 megapixels are legitimate: the memory limit leaves
# room for them.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-10}"
build="${SANITIZE_BUILD_DIR:-build-asan}"
scripts/sanitize.sh --build-only
corpora=../shared/corpora
own="tests/fixtures/pictures tests/fixtures/resources"
declare -A seeds=(
  [gif]="$corpora/pygif-test-suite $corpora/peterdn-gif-test-suite"
  [png]="$corpora/pngsuite-full/png $corpora/libpng-1.6.39-crashers"
  [bmp]="$corpora/pngsuite-full/bmp $corpora/bmpsuite/g $corpora/bmpsuite/q $corpora/bmpsuite/b"
  [jpeg]="$corpora/libjpeg-turbo-2.1.5-testimages"
  [pdf417]="tests/fuzz/pdf417-seeds"
)
targets="gif png bmp jpeg pdf417"
for own_seeds in resources registry htmlpage typelib registrar bridge websocket requests; do
  seeds[$own_seeds]="tests/fuzz/$own_seeds-seeds"
  targets="$targets $own_seeds"
done
seeds[htmlpage]="${seeds[htmlpage]} examples" # the sample pages too
# One target's run; its lines are printed when it ends.
fuzz_one() {
  local format=$1 folders="" folder work scratch
  for folder in ${seeds[$format]}; do
    if [ -d "$folder" ]; then
      folders="$folders $folder"
    else
      echo "fuzz_$format: $folder is missing, seeding from $own"
      folders="$folders $own"
    fi
  done
  work=$(mktemp -d)
  # Scratch files (hives, temporary files) in memory where the machine has
  # it: the registry's targets write on every input.
  scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
  # libFuzzer writes new inputs into the first folder: a scratch one.
  # shellcheck disable=SC2086
  TMPDIR="$scratch" "$build/bin/fuzz_$format" -max_total_time="$seconds" -max_len=65536 \
    -rss_limit_mb=8192 -print_final_stats=0 -artifact_prefix="$work/" \
    "$work" $(echo $folders | tr ' ' '\n' | sort -u) > "$work.log" 2>&1 ||
    { tail -40 "$work.log"; rm -rf "$scratch"; echo "fuzz_$format: crash (the input is kept in $work)"; return 1; }
  echo "fuzz_$format: $(grep -oE 'DONE|Done [0-9]+ runs' "$work.log" | tail -1) in ${seconds}s" \
    "($(grep -oE 'exec/s: [0-9]+' "$work.log" | tail -1)), no crash"
  rm -rf "$work" "$work.log" "$scratch"
}
# Each target is one process on one core: as many run at once as the
# machine has cores (FUZZ_JOBS), each for its whole time.
jobs=${FUZZ_JOBS:-$(nproc)}
failed=0
running=0
for format in $targets; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  fuzz_one "$format" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
[ "$failed" -eq 0 ] || { echo "fuzz.sh: a target crashed"; exit 1; }
