#!/bin/bash
# Builds both builds and runs every test under Wine (CTest): the 32-bit and the
# 64-bit suite where this machine runs both, the 64-bit suite alone where it
# runs no 32-bit programs (the 32-bit build is then still compiled).
# CURATO_ARCH=win32|win64|both forces the choice. The last lines are the
# summary, with CTest's own summary line for each suite.
. "$(dirname "$0")/common.sh"
ensure_deps
choose_archs
say "$ARCH_LINE"
"$ROOT/scripts/build.sh" win32 win64

summary=()
failed=0
for arch in $RUN_ARCHS; do
  dir=$(build_dir "$arch")
  say "testing the $(describe "$arch") in $dir"
  wine_use "$arch"
  export WINEPREFIX=$dir/wineprefix
  wine_start || die "Wine could not start for the $(describe "$arch")"
  if (cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 900 -O "$dir/ctest.log"); then
    rc=0
  else
    rc=$?
  fi
  wine_stop
  result=$(grep -E 'tests passed|No tests were found' "$dir/ctest.log" | tail -1)
  summary+=("$(describe "$arch"): ${result:-CTest ended with status $rc and no summary}")
  [ "$rc" -eq 0 ] || failed=1
done

echo
say "summary: $ARCH_LINE"
[ -z "${DEPS_NOTE:-}" ] || echo "$DEPS_NOTE"
printf '%s\n' "${summary[@]}"
exit $failed
