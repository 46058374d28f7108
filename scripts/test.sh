#!/usr/bin/env bash
# Builds every target and runs every test: Linux natively, the Windows builds
# under Wine (the i686 one under 32-bit Wine where this machine runs 32-bit
# programs, the x86-64 one under 64-bit Wine everywhere; QLN_WINE_ARCHS, e.g.
# "win64" or "win32 win64", forces the choice). Installs missing Debian
# packages first. Exit status 0 only when all passed.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

bash scripts/deps.sh || exit 1

export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/qln-ccache}
launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
jobs=$(nproc)
status=0

# Each stage with the minutes and seconds since the start, for stage times.
step() { echo; printf '== [%d:%02d] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"; }

# Every failure is named again at the end, with the tests that failed, so the
# last lines of a long log say what went wrong.
failures=()
failed() {  # failed STAGE [CTEST_BUILD_DIR]
  status=1
  local tests=""
  if [ -n "${2:-}" ] && [ -f "$2/Testing/Temporary/LastTestsFailed.log" ]; then
    tests=$(cut -d: -f2- "$2/Testing/Temporary/LastTestsFailed.log" | paste -sd' ' -)
  fi
  failures+=("$1${tests:+: $tests}")
}
# A stage the machine cannot run says why and is named at the end as
# skipped: it is not counted as passed.
skipped=()
# ctest in build folder $1; CTest leaves the list of failed tests of an
# earlier run in place, so it goes first.
tests_in() {
  local dir=$1; shift
  rm -f "$dir/Testing/Temporary/LastTestsFailed.log"
  ctest --test-dir "$dir" --output-on-failure "$@"
}

step "The tree: every C++ file as .clang-format writes it"
bash scripts/check_format.sh || failed "format check"

# Which Windows builds run under Wine here, found once, before anything is
# built. Both are always built; the i686 build runs only where the 32-bit
# Wine loader starts (a kernel without 32-bit emulation refuses it with
# "Exec format error"; some machines cannot install wine32:i386).
. "$top/cmake/wine-env.sh"
why_no32=""
if [ ! -x /usr/lib/wine/wine ]; then
  why_no32="the 32-bit Wine loader /usr/lib/wine/wine is not installed (wine32:i386)"
elif ! out32=$(/usr/lib/wine/wine --version 2>&1 </dev/null); then
  case "$out32" in
    *"Exec format error"*) why_no32="this kernel does not run 32-bit programs (Exec format error)" ;;
    *) why_no32="the 32-bit Wine loader does not start: $(head -1 <<<"$out32")" ;;
  esac
fi
/usr/lib/wine/wine64 --version >/dev/null 2>&1 </dev/null ||
  { echo "the 64-bit Wine loader /usr/lib/wine/wine64 does not start" >&2; exit 1; }
if [ -n "${QLN_WINE_ARCHS:-}" ]; then
  wine_archs=$(tr ',' ' ' <<<"$QLN_WINE_ARCHS" | xargs -n1 | sort -u | xargs)
  for arch in $wine_archs; do
    case "$arch" in win32 | win64) ;; *) echo "QLN_WINE_ARCHS: '$arch' is neither win32 nor win64" >&2; exit 1 ;; esac
  done
  [ -n "$wine_archs" ] || { echo "QLN_WINE_ARCHS names no build" >&2; exit 1; }
  if [[ " $wine_archs " == *" win32 "* ]] && [ -n "$why_no32" ]; then
    echo "QLN_WINE_ARCHS asks for win32, but $why_no32" >&2; exit 1
  fi
  why_choice="QLN_WINE_ARCHS=$QLN_WINE_ARCHS"
elif [ -z "$why_no32" ]; then
  wine_archs="win32 win64" why_choice="this machine runs 32-bit and 64-bit Windows programs under Wine"
else
  wine_archs="win64" why_choice=$why_no32
fi
not_run=()
for arch in win32 win64; do
  [[ " $wine_archs " == *" $arch "* ]] || not_run+=("$arch")
done
# The Linux tests that drive Windows programs run against one build: the
# i686 one, the reference Windows build, where it runs.
wine_ref=${wine_archs%% *}
step "Windows builds: win32 (i686) and win64 (x86-64) are built; run under Wine: $wine_archs ($why_choice)"

step "Linux: configure and build"
cmake --preset linux "${launcher[@]}" >/dev/null || exit 1
cmake --build build/linux -j "$jobs" || exit 1

for arch in win32 win64; do
  step "$arch: configure and build"
  cmake --preset "$arch" "${launcher[@]}" >/dev/null || exit 1
  cmake --build "build/$arch" -j "$jobs" || exit 1
done

# One Wine prefix per Windows build, of its own architecture, made afresh
# for every run, with a persistent wineserver so that each test process
# starts quickly. wine_for puts the build's prefix and loader in the
# environment.
wine_for() {
  export WINEPREFIX="$top/build/$1/wineprefix"
  qln_wine_env "$1"
}
wine_stop() { wineserver -k >/dev/null 2>&1 || true; }
# A persistent server, and the prefix's system processes (services.exe,
# winedevice.exe, ...) started here with their output on /dev/null. Started by
# the first test instead, they would keep that test's output pipe open for as
# long as the persistent server lives, and CTest would wait on it until its
# time-out (seen at test discovery).
wine_up() {
  wineserver -w >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1 || { echo "wineserver did not start" >&2; return 1; }
  wine cmd /c exit </dev/null >/dev/null 2>&1 || { echo "wine did not start" >&2; return 1; }
}
wine_stop_all() {
  for arch in win32 win64; do
    WINEPREFIX="$top/build/$arch/wineprefix" wineserver -k >/dev/null 2>&1 || true
  done
}
trap wine_stop_all EXIT
for arch in $wine_archs; do
  step "$arch: preparing the Wine prefix (WINEARCH=$arch)"
  wine_for "$arch"
  wine_stop
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || { echo "wineboot failed ($arch)" >&2; exit 1; }
  wine_up || exit 1
done

step "Linux: the docs against the programs"
bash scripts/check_docs.sh build/linux/bin || failed "docs check"
step "The layers: no file includes from a layer above its own"
bash scripts/check_layers.sh || failed "layer check"

step "Linux: tests"
# The Linux tests that drive Windows programs under Wine share the one prefix
# and end its processes when they finish: they run one at a time, after the
# others.
wine_for "$wine_ref"
QLN_WIN32_BIN="$top/build/$wine_ref/bin" tests_in build/linux -j "$jobs" -E 'Wine' || failed "Linux tests" build/linux
step "Linux: tests driving the $wine_ref build under Wine"
QLN_WIN32_BIN="$top/build/$wine_ref/bin" tests_in build/linux -R 'Wine' ||
  failed "Linux tests driving Wine ($wine_ref)" build/linux

for arch in $wine_archs; do
  step "$arch: tests under Wine"
  # The Wine-driving tests above end the prefix's server; a server that is
  # not persistent may be exiting just as the next test connects ("recvmsg:
  # Connection reset by peer"), so a persistent one is started again, once
  # the last one has gone.
  wine_for "$arch"
  wine_stop
  wine_up || failed "Wine start before the $arch tests"
  tests_in "build/$arch" -j "$jobs" || failed "$arch tests under Wine" "build/$arch"
  wine_stop
done

step "Packages: build, lintian, install/upgrade/remove (Debian here, Windows Installer under Wine)"
# The packages of the programs just built and tested; lintian may report
# information, nothing worse.
pkg_dir="$top/build/packages"
version=$(cat build/linux/version.txt)
if rm -rf "$pkg_dir" && bash scripts/package.sh "$pkg_dir"; then
  lintian --fail-on error,warning "$pkg_dir"/*.deb || failed "lintian"
  bash scripts/deb_e2e.sh "$pkg_dir/qln_${version}_amd64.deb" "$pkg_dir/qln-tools_${version}_amd64.deb" \
    build/linux/bin || failed "Debian package install test"
  for arch in $wine_archs; do
    step "$arch: the Windows Installer package under Wine"
    bash scripts/msi_wine_e2e.sh "$pkg_dir/qln-$version-$arch.msi" build/linux/bin ||
      failed "Windows Installer package test under Wine ($arch)"
  done

  step "Packages under a real systemd (Debian 12 container, systemd as PID 1)"
  bash scripts/systemd_e2e.sh "$pkg_dir/qln_${version}_amd64.deb" "$pkg_dir/qln-tools_${version}_amd64.deb" \
    2>&1 | tee build/systemd_e2e.log
  case ${PIPESTATUS[0]} in
    0) ;;
    77) skipped+=("systemd stage: $(sed -n 's/^systemd: SKIPPED: //p' build/systemd_e2e.log | tail -1)") ;;
    *) failed "systemd stage: $(grep -c '^systemd: FAILED' build/systemd_e2e.log) FAILED lines (build/systemd_e2e.log)" ;;
  esac
else
  failed "package build"
fi

# The same Linux code once more under the sanitizers: AddressSanitizer with
# UndefinedBehaviorSanitizer for every Linux test and the fuzz corpora,
# ThreadSanitizer for the threaded parts. Any report fails the test that
# made it (-fno-sanitize-recover=all, halt_on_error).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

step "Linux with AddressSanitizer and UndefinedBehaviorSanitizer: build and tests"
if cmake --preset linux-asan "${launcher[@]}" >/dev/null && cmake --build build/linux-asan -j "$jobs"; then
  tests_in build/linux-asan -j "$jobs" || failed "ASan+UBSan tests" build/linux-asan
  # About half a minute per target: long enough for the mutations to reach
  # past the seed corpus, short enough for every CI run (QLN_CI_FUZZ_SECONDS
  # changes it).
  fuzz_seconds=${QLN_CI_FUZZ_SECONDS:-30}
  step "Fuzz targets: a run of each ($fuzz_seconds s)"
  bash fuzz/run.sh all "$fuzz_seconds" "$top/build/linux-asan" || failed "fuzz runs"
else
  echo "sanitizer build failed" >&2
  failed "ASan+UBSan build"
fi

step "Linux with ThreadSanitizer: the threaded parts"
# The service host and its events, and the worker thread under the service
# host, stopped and paused while it relays.
tsan_targets=(tests_service tests_common tests_e2e tests_e2e_service qln upssim netxcp)
if cmake --preset linux-tsan "${launcher[@]}" >/dev/null &&
   cmake --build build/linux-tsan -j "$jobs" --target "${tsan_targets[@]}"; then
  tests_in build/linux-tsan -j "$jobs" -L threaded || failed "TSan tests" build/linux-tsan
else
  echo "ThreadSanitizer build failed" >&2
  failed "TSan build"
fi

step "Linux: one end-to-end run of qln under valgrind"
bash scripts/valgrind_e2e.sh "$top/build/linux" || failed "valgrind run"

step "Linux: qln under its systemd unit's sandbox (account, privileges, system calls)"
bash scripts/sandbox_e2e.sh "$top/build/linux" || failed "sandbox run"

echo
for arch in "${not_run[@]}"; do
  case "$arch" in
    win32) echo "note: the 32-bit Windows build (win32, i686) was built but not run: $why_choice" ;;
    win64) echo "note: the 64-bit Windows build (win64, x86-64) was built but not run: $why_choice" ;;
  esac
done
if [ $status -ne 0 ]; then
  step "result: FAILURES${skipped[*]:+ (and ${#skipped[@]} SKIPPED)}"
elif [ ${#skipped[@]} -gt 0 ]; then
  step "result: no failures, but ${#skipped[@]} stage(s) SKIPPED (not run, not passed)"
else
  step "result: all passed"
fi
for f in "${failures[@]}"; do echo "failed: $f"; done
for s in "${skipped[@]}"; do echo "SKIPPED: $s"; done
exit $status
