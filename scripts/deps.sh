#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when missing.
# Safe to run again: it does nothing when everything is there.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

for p in cmake ninja-build g++ ccache libgtest-dev libgmock-dev nettle-dev \
         g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 \
         python3 procps util-linux iproute2 clang libclang-rt-14-dev valgrind \
         systemd systemd-container debootstrap strace passwd \
         wixl msitools debhelper lintian patchelf adduser man-db \
         ${QLN_EXTRA_PACKAGES:-}; do
  have "$p" || need+=("$p")
done

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

echo "deps: installing ${need[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "deps: missing packages and not root; install them: ${need[*]}" >&2
  exit 1
fi
if printf '%s\n' "${need[@]}" | grep -q ':i386'; then
  dpkg --print-foreign-architectures | grep -q '^i386$' || dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
