#!/bin/bash
# Makes the README's pictures of the setup from the real walk: the GUI driver
# walks setup.exe through the whole install in an X server, a fresh Wine prefix
# and a Wine desktop of their own, then once more with a product file held
# open so that an "Error Detected" box comes up, then the first walk once more
# at 150 % display scale on a screen made for it, for the welcome page at 100 %
# and at 150 % side by side. The pictures land in docs/.
# The 32-bit product walks where this machine runs 32-bit programs, otherwise
# the 64-bit build (CURATO_ARCH=win32 or win64 forces one).
. "$(dirname "$0")/common.sh"
ensure_deps
[ "${CURATO_ARCH:-auto}" != both ] || CURATO_ARCH=auto
choose_archs
arch=${RUN_ARCHS%% *}
say "$ARCH_LINE"
BUILD_TARGET=setup_gui_test "$ROOT/scripts/build.sh" "$arch"
dir=$(build_dir "$arch")

say "walking the wizard twice: the install, then the install with a file in use"
shots=$dir/pictures
if ! DRIVER_TIME_LIMIT=300 "$ROOT/tests/common/run-in-desktop.sh" "$dir/pictures-wineprefix" "$shots" \
       SETUP_EXE="$dir/setup/setup.exe" \
       -- "$dir/tests/gui/setup_gui_test.exe" --gtest_also_run_disabled_tests \
          --gtest_filter='SetupGuiWalk.*' >"$dir/pictures.log"; then
  cat "$dir/pictures.log" >&2
  die "the walk failed; its pictures and log are kept beside $shots"
fi

say "walking the wizard at 150 % display scale"
shots150=$dir/pictures-150
if ! DESKTOP_DPI=144 DESKTOP_SIZE=1536x1152 DRIVER_TIME_LIMIT=300 "$ROOT/tests/common/run-in-desktop.sh" \
       "$dir/pictures-wineprefix" "$shots150" SETUP_EXE="$dir/setup/setup.exe" \
       -- "$dir/tests/gui/setup_gui_test.exe" --gtest_also_run_disabled_tests \
          --gtest_filter='SetupGuiWalk.DISABLED_WalkThrough' >"$dir/pictures-150.log"; then
  cat "$dir/pictures-150.log" >&2
  die "the walk at 150 % failed; its pictures and log are kept beside $shots150"
fi

# README picture <- the walk's picture of that moment.
pictures=(welcome:walk-10-welcome licence:walk-20-licence destination:walk-30-destination
          installing:walk-40-installing complete:walk-40-complete
          error-detected:walk-40-error-detected)
mkdir -p "$ROOT/docs"
for pair in "${pictures[@]}"; do
  cp "$shots/${pair#*:}.png" "$ROOT/docs/${pair%%:*}.png"
  say "docs/${pair%%:*}.png"
done
# The welcome page at 100 % and at 150 %, each at its own size, side by side.
convert "$shots/walk-10-welcome.png" -size 24x1 xc:white "$shots150/walk-10-welcome.png" \
  -background white -gravity south +append -strip "$ROOT/docs/welcome-100-150.png"
say "docs/welcome-100-150.png"
