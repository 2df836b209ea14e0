#!/usr/bin/env bash
# The main job: installs what is missing, builds, registers the module and
# prints the sample page (a shipping label and a landscape dispatch note)
# and the order list (from the database registered for it, else an embedded
# SQLite one) on the default printer through the script host; says where
# they went.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
build="${BUILD_DIR:-build}"
bin="$build/bin"
home="${QUILLBAY_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/quillbay}"
"$bin/quillbay-regsvr" /s "$PWD/$bin/quillbay.so"
before=0
[ -f "$home/print-jobs.log" ] && before=$(wc -l < "$home/print-jobs.log")
QUILLBAY_UI="${QUILLBAY_UI:-headless}" "$bin/quillbay-script" examples/sample-page.html
QUILLBAY_UI="${QUILLBAY_UI:-headless}" "$bin/quillbay-script" examples/order-list.html
echo "The sample pages were printed:"
tail -n +"$((before + 1))" "$home/print-jobs.log" | cut -f2,3 | sed 's/\t/: /; s/^/  /'
