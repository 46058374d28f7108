#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when missing.
# Safe to run again: it does nothing when everything is there.
#
# The 32-bit Wine (wine32:i386) is wanted, not required: some build machines
# cannot have it (a kernel without 32-bit emulation, or a mirror whose i386
# index is broken). Without it the 32-bit Windows build is still built, and
# scripts/test.sh says that it was not run.
set -euo pipefail

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

need=()
for p in cmake ninja-build g++ ccache libgtest-dev libgmock-dev nettle-dev \
         g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
         g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 \
         python3 procps util-linux iproute2 clang clang-format libclang-rt-14-dev valgrind \
         systemd systemd-container debootstrap strace passwd \
         wixl msitools debhelper lintian patchelf adduser man-db \
         ${QLN_EXTRA_PACKAGES:-}; do
  have "$p" || need+=("$p")
done
want32=()
have wine32:i386 || want32=(wine32:i386)

if [ ${#need[@]} -eq 0 ] && [ ${#want32[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  if [ ${#need[@]} -eq 0 ]; then
    echo "deps: wine32:i386 is not installed (not root): the 32-bit Windows build will not be run"
    exit 0
  fi
  echo "deps: missing packages and not root; install them: ${need[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

if [ ${#want32[@]} -gt 0 ]; then
  dpkg --print-foreign-architectures | grep -q '^i386$' || dpkg --add-architecture i386 ||
    echo "deps: dpkg --add-architecture i386 failed"
fi
# A mirror that is being synced, or one broken index (seen: the i386 list of
# the security archive), makes apt-get update fail although every other list
# was read; the packages are then installed from the lists it has. Once more
# first when a required package is missing; the 32-bit Wine alone is not
# worth the wait.
update() {
  local log; log=$(mktemp)
  if apt-get update -qq >"$log" 2>&1; then rm -f "$log"; return 0; fi
  echo "deps: warning: apt-get update failed: $(grep -m1 '^E:' "$log" || tail -1 "$log")" >&2
  rm -f "$log"
  return 1
}
if ! update; then
  if [ ${#need[@]} -eq 0 ] || ! update; then
    echo "deps: warning: going on with the package lists there are" >&2
  fi
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "deps: installing ${need[*]}"
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
if [ ${#want32[@]} -gt 0 ]; then
  log32=$(mktemp)
  if apt-get install -y -qq --no-install-recommends "${want32[@]}" >"$log32" 2>&1; then
    echo "deps: installed wine32:i386"
  else
    echo "deps: wine32:i386 cannot be installed here ($(grep -m1 -E '^(E|W):' "$log32" || tail -1 "$log32")): the 32-bit Windows build will be built, not run"
  fi
  rm -f "$log32"
fi
