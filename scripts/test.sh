#!/bin/bash
# Builds everything and runs every test under Wine (CTest). The last lines are
# CTest's summary.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/build.sh" >/dev/null
. "$ROOT/scripts/wine-env.sh"
wine_start
trap wine_stop EXIT
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)" --timeout 600
