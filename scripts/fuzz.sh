#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer) in
# build-fuzz/ and runs each for a bounded time (FUZZ_SECONDS, default 20):
# the decoders from the public image suites, the PDF417 encoder from a few
# texts of its own. Fails on the first crash. Pictures up to the
# system's 100 megapixels are legitimate: the memory limit leaves room for them.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-20}"
build="${FUZZ_BUILD_DIR:-build-fuzz}"
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DQUILLBAY_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
ninja -C "$build" fuzz_gif fuzz_png fuzz_bmp fuzz_jpeg fuzz_pdf417 >/dev/null
corpora=../shared/corpora
declare -A seeds=(
  [gif]="$corpora/pygif-test-suite $corpora/peterdn-gif-test-suite"
  [png]="$corpora/pngsuite-full/png $corpora/libpng-1.6.39-crashers"
  [bmp]="$corpora/pngsuite-full/bmp"
  [jpeg]="$corpora/libjpeg-turbo-2.1.5-testimages"
  [pdf417]="tests/fuzz/pdf417-seeds"
)
for format in gif png bmp jpeg pdf417; do
  work=$(mktemp -d)
  # libFuzzer writes new inputs into the first folder: a scratch one.
  # shellcheck disable=SC2086
  "$build/bin/fuzz_$format" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=8192 \
    -print_final_stats=0 "$work" ${seeds[$format]} > "$work.log" 2>&1 ||
    { tail -40 "$work.log"; echo "fuzz_$format: crash"; exit 1; }
  echo "fuzz_$format: $(grep -c . "$work.log" >/dev/null; grep -oE 'DONE|Done [0-9]+ runs' "$work.log" | tail -1) in ${seconds}s, no crash"
  rm -rf "$work" "$work.log"
done
