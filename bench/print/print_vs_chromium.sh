#!/usr/bin/env bash
# The sample label from script to finished PDF: quillbay's script host on the
# built-in PDF printer, against the same layout as an HTML page printed to
# PDF by headless Chromium (what a user would otherwise do). Both are whole
# processes, started RUNS times each in the same run; prints the median.
#
#   bench/print/print_vs_chromium.sh [RUNS]     (build first: scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."
runs="${1:-10}"
bin="${BUILD_DIR:-build}/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUILLBAY_HOME="$work/home" QUILLBAY_MACHINE_HOME="$work/machine"
export QUILLBAY_PRINT_DIR="$work/prints" QUILLBAY_PRINTER="Quillbay PDF"
export QUILLBAY_UI=headless
"$bin/quillbay-regsvr" /s "$PWD/$bin/quillbay.so"

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
time_ms() { local s e; s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N); echo $(( (e - s) / 1000000 )); }

quill=()
for ((i = 0; i < runs; i++)); do
  quill+=("$(time_ms "$bin/quillbay-script" bench/print/label.js)")
done
echo "quillbay  script to PDF, median of $runs: $(printf '%s\n' "${quill[@]}" | median) ms"

chromium=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$chromium" ]; then
  echo "chromium is not installed (apt-get install chromium): no comparison"
  exit 0
fi
chrome=()
for ((i = 0; i < runs; i++)); do
  chrome+=("$(time_ms "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile$i" --no-pdf-header-footer \
    --print-to-pdf="$work/chromium$i.pdf" "file://$PWD/bench/print/label.html")")
done
echo "chromium  HTML to PDF,  median of $runs: $(printf '%s\n' "${chrome[@]}" | median) ms"
