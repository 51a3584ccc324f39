#!/bin/bash
# Builds setup.exe and runs it under Wine. With a display, the setup opens for
# you to click through. Without one (a headless machine), it runs under an X
# server of its own and the GUI driver walks the wizard as far as it goes,
# leaving a screenshot of every page.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/build.sh" >/dev/null
SETUP="$BUILD_DIR/setup/setup.exe"
echo "Built $SETUP"

if [ -n "${DISPLAY:-}" ]; then
  . "$ROOT/scripts/wine-env.sh"
  wine_start
  trap wine_stop EXIT
  set +e
  wine "$SETUP" </dev/null
  echo "setup.exe exited with code $?"
  exit 0
fi

SHOTS="$BUILD_DIR/walk-shots"
set +e
"$ROOT/tests/gui/run-gui-tests.sh" "$BUILD_DIR/walk-wineprefix" \
  "$BUILD_DIR/tests/gui/setup_gui_test.exe" "$SETUP" "$ROOT/resources/LICENSE.TXT" "$SHOTS" \
  "$BUILD_DIR/tests/gui/Shdocvw.dll" \
  --gtest_also_run_disabled_tests --gtest_filter='SetupGuiWalk.*'
rc=$?
DRIVE_C="$BUILD_DIR/walk-wineprefix/drive_c"
echo "Page screenshots of the walk: $SHOTS/walk-*.png"
echo "Installed files:              $DRIVE_C/Program Files/CuratoNet/"
find "$DRIVE_C" -name CuratoNet.lnk -path '*Curato*' 2>/dev/null | sed 's/^/Shortcut:                     /'
echo "Session log:                  $DRIVE_C/setup.log"
exit $rc
