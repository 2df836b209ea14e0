#!/usr/bin/env bash
# The main job: installs what is missing, builds, registers the module and
# runs the sample page through the script host; says where the output went.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
build="${BUILD_DIR:-build}"
bin="$build/bin"
"$bin/quillbay-regsvr" /s "$PWD/$bin/quillbay.so"
out="$build/sample-output.txt"
"$bin/quillbay-script" examples/utilities.html | tee "$out"
echo "The sample page ran; its output is in $out"
