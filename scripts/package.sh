#!/usr/bin/env bash
# Makes the packages of the programs built in build/linux, build/win32 and
# build/win64, building them first where they are missing or older than the
# sources (a fresh clone needs nothing else; scripts/deps.sh installs the
# tools; CONTRIBUTING.md's "Building by hand" builds them by hand):
#
#   scripts/package.sh [OUT]             qln-<v>-win32.msi, qln-<v>-win64.msi,
#                                        qln_<v>_amd64.deb and
#                                        qln-tools_<v>_amd64.deb in OUT
#                                        (default build/packages)
#   scripts/package.sh msi OUT BIN VER   one .msi of the Windows programs in
#                                        BIN (32- or 64-bit, as they are built),
#   scripts/package.sh deb OUT BIN VER   one pair of .debs of the Linux programs
#                                        in BIN, as version VER (the tests make
#                                        a "newer build" so); these two build
#                                        nothing
#
# The version is the one the build wrote (build/<target>/version.txt, from the
# top CMakeLists.txt). Needs wixl and msitools (msi), debhelper and patchelf
# (deb); scripts/deps.sh installs them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/cmake/wine-env.sh"
say() { echo "package: $*"; }
die() { echo "package: $*" >&2; exit 1; }

# The MSI of the Windows programs in $2, version $3, into folder $1: the x86
# package of an i686 build (qln-<v>-win32.msi), the x64 package of an x86-64
# build (qln-<v>-win64.msi).
make_msi() {
  local out=$1 bin=$2 version=$3
  local work="$out/msi-work" arch="" f
  rm -rf "$work" && mkdir -p "$work/bin"
  for f in qln.exe Pellux_noDB.dll agentupdate.exe; do
    [ -f "$bin/$f" ] || die "$bin/$f is not built"
    local a; a=$(qln_pe_arch "$bin/$f") || die "$bin/$f is no Windows program"
    [ -z "$arch" ] || [ "$a" = "$arch" ] || die "$bin holds programs of both Windows builds"
    arch=$a
    cp "$bin/$f" "$work/bin/"
  done
  local platform bits other
  case "$arch" in
    win32) platform=x86 bits=32-bit other=64-bit ;;
    win64) platform=x64 bits=64-bit other=32-bit ;;
  esac
  # Windows editors expect CR LF; the agent reads either.
  sed 's/\r*$/\r/' "$top/packaging/qln.ini" > "$work/qln.ini"
  cp "$top/packaging/win32/qln.wxs" "$work/"
  local msi="qln-$version-$arch.msi"
  # wixl looks for the sources relative to the folder it runs in.
  (cd "$work" && wixl -a $platform -D Platform=$platform -D Version="$version" -D BinDir=bin \
     -D ConfigFile=qln.ini -o "$msi" qln.wxs) || die "wixl failed"

  # Three things wixl cannot say in the source, set in the tables it wrote:
  # - the INI file's component is permanent (0x10) and never overwritten
  #   (0x80): the administrator's edits survive repair, upgrade and uninstall;
  # - a package of the same version as the installed one replaces it too
  #   (VersionMaxInclusive, 0x200), so that rebuilding a version never makes
  #   a second entry in the installed programs;
  # - the other architecture's package, when installed (QLN_OTHER_BUILD),
  #   stops the installation before anything is changed: both install the
  #   same service.
  local refusal="Ombrex Quillon ($other) is installed on this computer, and this $bits package installs the same service. Uninstall it first (its settings file qln.ini stays in its folder), then install this package."
  (cd "$work" &&
   msiinfo export "$msi" Component > Component.idt &&
   awk -F'\t' 'BEGIN { OFS = "\t" } NR > 3 && $1 == "Settings" { $4 = $4 + 144 } { print }' \
     Component.idt > c.idt && mv c.idt Component.idt &&
   msiinfo export "$msi" Upgrade > Upgrade.idt &&
   awk -F'\t' 'BEGIN { OFS = "\t" } NR > 3 && $7 ~ /^WIX_UPGRADE_DETECTED/ { $5 = $5 + 512 } { print }' \
     Upgrade.idt > u.idt && mv u.idt Upgrade.idt &&
   msiinfo export "$msi" LaunchCondition > LaunchCondition.idt &&
   printf 'NOT QLN_OTHER_BUILD OR Installed\t%s\r\n' "$refusal" >> LaunchCondition.idt &&
   msibuild "$msi" -i Component.idt -i Upgrade.idt -i LaunchCondition.idt) ||
    die "the installer tables could not be set"
  (cd "$work" && msiinfo export "$msi" Component | grep -q $'^Settings\t.*\t\(144\|400\)\t') ||
    die "the INI file's component is not permanent in $msi"
  (cd "$work" && msiinfo export "$msi" LaunchCondition | grep -q '^NOT QLN_OTHER_BUILD') ||
    die "$msi does not refuse the other architecture's package"
  mv "$work/$msi" "$out/$msi"
  rm -rf "$work"
  say "$out/$msi"
}

# The two Debian packages of the Linux programs in $2, version $3, into $1.
make_deb() {
  local out=$1 bin=$2 version=$3
  local work="$out/deb-work"
  rm -rf "$work" && mkdir -p "$work"
  for f in qln libPellux_noDB.so netxcp upssim; do
    [ -f "$bin/$f" ] || die "$bin/$f is not built"
  done
  cp -r "$top/packaging/debian" "$work/debian"
  local stage="$work/stage"
  install -d "$stage/usr/sbin" "$stage/usr/lib/qln" "$stage/usr/bin" "$stage/etc/qln" "$stage/man"
  install -m 755 "$bin/qln" "$stage/usr/sbin/qln"
  install -m 644 "$bin/libPellux_noDB.so" "$stage/usr/lib/qln/libPellux_noDB.so"
  install -m 755 "$bin/netxcp" "$bin/upssim" "$stage/usr/bin/"
  install -m 644 "$top/packaging/qln.ini" "$stage/etc/qln/qln.ini"
  # The build finds the library beside the program ($ORIGIN); installed,
  # it is in the package's private folder.
  patchelf --set-rpath /usr/lib/qln "$stage/usr/sbin/qln"
  patchelf --remove-rpath "$stage/usr/lib/qln/libPellux_noDB.so"
  patchelf --remove-rpath "$stage/usr/bin/netxcp"
  patchelf --remove-rpath "$stage/usr/bin/upssim"
  for page in qln.8 netxcp.1 upssim.1; do
    sed "s/@VERSION@/$version/" "$top/packaging/man/$page" > "$stage/man/$page"
  done
  python3 "$top/scripts/man_ini.py" "$top/docs/configuration.md" "$version" > "$stage/man/qln.ini.5"
  # The package's version is the program's; the date is the build's.
  cat > "$work/debian/changelog" <<CHANGES
qln ($version) unstable; urgency=medium

  * Release $version.

 -- Ombrex Quillon developers <qln-dev@ombrex.invalid>  $(date -R)
CHANGES
  (cd "$work" && DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -b -uc -us -nc >build.log 2>&1) ||
    { tail -30 "$work/build.log" >&2; die "dpkg-buildpackage failed"; }
  mv "$out"/qln_"$version"_amd64.deb "$out"/qln-tools_"$version"_amd64.deb "$out/" 2>/dev/null || true
  rm -f "$out"/qln_"$version"_amd64.buildinfo "$out"/qln_"$version"_amd64.changes
  rm -rf "$work"
  say "$out/qln_${version}_amd64.deb"
  say "$out/qln-tools_${version}_amd64.deb"
}

case "${1:-}" in
  msi) [ $# -eq 4 ] || die "usage: package.sh msi OUT BIN VERSION"; mkdir -p "$2"
       make_msi "$(cd "$2" && pwd)" "$(cd "$3" && pwd)" "$4" ;;
  deb) [ $# -eq 4 ] || die "usage: package.sh deb OUT BIN VERSION"; mkdir -p "$2"
       make_deb "$(cd "$2" && pwd)" "$(cd "$3" && pwd)" "$4" ;;
  *)
    out=${1:-$top/build/packages}
    mkdir -p "$out" && out=$(cd "$out" && pwd)
    # Each build configured where it is not, and its packaged programs
    # brought up to date (nothing to do when they are).
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    for target in linux win32 win64; do
      if [ ! -f "$top/build/$target/build.ninja" ]; then
        say "configuring build/$target"
        (cd "$top" && cmake --preset "$target" "${launcher[@]}" >/dev/null) || die "build/$target could not be configured"
      fi
      case "$target" in
        linux) programs=(qln Pellux_noDB netxcp upssim) ;;
        *) programs=(qln Pellux_noDB agentupdate) ;;
      esac
      say "building ${programs[*]} in build/$target"
      cmake --build "$top/build/$target" -j "$(nproc)" --target "${programs[@]}" >"$out/build-$target.log" 2>&1 ||
        { tail -30 "$out/build-$target.log" >&2; die "build/$target failed (log: $out/build-$target.log)"; }
      rm -f "$out/build-$target.log"
    done
    version=$(cat "$top/build/linux/version.txt")
    for target in win32 win64; do
      [ "$version" = "$(cat "$top/build/$target/version.txt")" ] ||
        die "build/linux and build/$target are of different versions; configure both again"
    done
    make_msi "$out" "$top/build/win32/bin" "$version"
    make_msi "$out" "$top/build/win64/bin" "$version"
    make_deb "$out" "$top/build/linux/bin" "$version"
    ;;
esac
