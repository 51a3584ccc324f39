#!/bin/bash
# Builds setup.exe and runs it under Wine: the 32-bit product where this
# machine runs 32-bit programs, otherwise the 64-bit build (CURATO_ARCH=win32
# or win64 forces one). With a display, the setup opens for you to click
# through. Without one (a headless machine), the GUI driver walks the wizard
# through the whole install in an X server of its own, leaving a screenshot of
# every page, and says where the installed files are.
. "$(dirname "$0")/common.sh"
say "checking the packages it needs (the first time, they are installed: about a minute)"
ensure_deps
[ "${CURATO_ARCH:-auto}" != both ] || CURATO_ARCH=auto
choose_archs
arch=${RUN_ARCHS%% *}
say "$ARCH_LINE"
say "building (the first time: a few minutes)"
builds=(win32)
[ "$arch" = win32 ] || builds+=("$arch")
"$ROOT/scripts/build.sh" "${builds[@]}"
dir=$(build_dir "$arch")
SETUP=$dir/setup/setup.exe
say "built $SETUP"

if [ -n "${DISPLAY:-}" ]; then
  wine_use "$arch"
  export WINEPREFIX=$dir/wineprefix
  wine_start || die "Wine could not start"
  trap wine_stop EXIT
  say "running setup.exe under Wine"
  if wine "$SETUP" </dev/null; then rc=0; else rc=$?; fi
  say "setup.exe exited with code $rc"
  exit 0
fi

say "no display: walking the wizard through the install in an X server of its own"
WALK=$dir/walk
DRIVE_C=$dir/walk-wineprefix/drive_c
if ! DRIVER_TIME_LIMIT=300 "$ROOT/tests/common/run-in-desktop.sh" "$dir/walk-wineprefix" "$WALK" \
       SETUP_EXE="$SETUP" LICENSE_TXT="$ROOT/resources/LICENSE.TXT" \
       -- "$dir/tests/gui/setup_gui_test.exe" --gtest_also_run_disabled_tests \
          --gtest_filter=SetupGuiWalk.DISABLED_WalkThrough; then
  die "the walk through the wizard failed; see the driver's output above"
fi
shortcut=$(find "$DRIVE_C" -name CuratoNet.lnk 2>/dev/null | head -1)
[ -f "$DRIVE_C/setup.log" ] && [ -n "$shortcut" ] && [ -d "$DRIVE_C/Program Files/CuratoNet" ] ||
  die "the walk ended, but the install left no session log, shortcut or product folder under $DRIVE_C"
echo "Page screenshots of the walk: $WALK/walk-*.png"
echo "Installed files:              $DRIVE_C/Program Files/CuratoNet/ ($(ls "$DRIVE_C/Program Files/CuratoNet" | wc -l) files)"
echo "Shortcut:                     $shortcut"
echo "Session log:                  $DRIVE_C/setup.log"
