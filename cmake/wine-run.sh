#!/usr/bin/env bash
# Runs a Win32 program under 32-bit Wine in the build tree's own prefix.
# CTest uses it as the cross-compiling emulator; scripts/test.sh prepares the
# prefix and a persistent wineserver before the tests and ends it afterwards.
set -euo pipefail
exe=$1; shift
build=${QLN_WIN32_BUILD:-$(cd "$(dirname "$exe")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # First use: make the prefix under a lock, so that parallel tests wait.
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  ) 9>"$build/.wineprefix.lock"
fi
exec wine "$exe" "$@"
