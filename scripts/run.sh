#!/bin/bash
# Builds setup.exe and runs it under Wine.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/build.sh" >/dev/null
. "$ROOT/scripts/wine-env.sh"
wine_start
trap wine_stop EXIT
SETUP="$BUILD_DIR/setup/setup.exe"
echo "Built $SETUP"
wine "$SETUP" </dev/null
echo "setup.exe exited with code $?"
