#!/usr/bin/env bash
# Builds both targets and runs every test: Linux natively, Win32 under Wine.
# Installs missing Debian packages first. Exit status 0 only when all passed.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/deps.sh || exit 1

export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/qln-ccache}
launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
jobs=$(nproc)
status=0

step() { echo; echo "== $*"; }

step "Linux: configure and build"
cmake --preset linux "${launcher[@]}" >/dev/null || exit 1
cmake --build build/linux -j "$jobs" || exit 1

step "Win32: configure and build"
cmake --preset win32 "${launcher[@]}" >/dev/null || exit 1
cmake --build build/win32 -j "$jobs" || exit 1

# One Wine prefix for the Win32 tests, made afresh for every run, with a
# persistent wineserver so that each test process starts quickly.
export WINEPREFIX="$top/build/win32/wineprefix"
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_stop() { WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true; }
trap wine_stop EXIT
wine_stop
rm -rf "$WINEPREFIX"
step "Win32: preparing the Wine prefix"
wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
wineserver -p >/dev/null 2>&1 &

step "Linux: tests"
QLN_WIN32_BIN="$top/build/win32/bin" ctest --test-dir build/linux --output-on-failure -j "$jobs" || status=1

step "Win32: tests under Wine"
ctest --test-dir build/win32 --output-on-failure -j "$jobs" || status=1

wine_stop
step "result: $([ $status -eq 0 ] && echo all passed || echo FAILURES)"
exit $status
