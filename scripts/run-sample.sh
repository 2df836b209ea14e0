#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the smoke check of
# the platform and support library; says where its output went.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh >/dev/null
build="${BUILD_DIR:-build}"
log="$build/smoke.log"
"$build/bin/test_platform" --gtest_brief=1 >"$log" 2>&1 && "$build/bin/test_support" --gtest_brief=1 >>"$log" 2>&1
echo "Smoke check passed; its output is in $log"
