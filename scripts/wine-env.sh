# Sourced by the scripts: a Wine prefix inside the build tree, with a persistent
# server so that each test process starts in milliseconds rather than seconds.
export WINEPREFIX=${WINEPREFIX:-$BUILD_DIR/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

wine_start() {
  mkdir -p "$WINEPREFIX"
  # Every standard stream on /dev/null: Wine's background services would
  # otherwise inherit the caller's pipes and keep them open for ever.
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
  # The second unit-test program sees the Windows 9x platform.
  wine reg add 'HKCU\Software\Wine\AppDefaults\wfutil_tests9x.exe' /v Version /d win98 /f \
    </dev/null >/dev/null 2>&1
}

wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
}
