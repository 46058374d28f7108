#!/usr/bin/env bash
# Runs a Windows program of either build under Wine in the build tree's own
# prefix: an i686 program under 32-bit Wine (WINEARCH=win32), an x86-64 one
# under 64-bit Wine (WINEARCH=win64), told by the program's PE header.
# CTest uses it as the cross-compiling emulator; scripts/test.sh prepares the
# prefix and a persistent wineserver before the tests and ends it afterwards.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exe=$1; shift
arch=$(qln_pe_arch "$exe") || { echo "wine-run: $exe is no Windows program of either build" >&2; exit 126; }
build=${QLN_WIN32_BUILD:-$(cd "$(dirname "$exe")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
qln_wine_env "$arch"
qln_check_prefix "$WINEPREFIX" "$arch" || exit 126
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # First use: make the prefix under a lock, so that parallel tests wait.
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
  ) 9>"$build/.wineprefix.lock"
fi
exec wine "$exe" "$@"
