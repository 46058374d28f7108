#!/usr/bin/env bash
# The Debian packages on this machine, as apt treats them: installed, the
# files and the unit checked, the conffile edited, a newer build installed
# over it (the edit kept), removed (the edit still kept), purged (the
# conffile, its folder and systemd's enablement state gone). The machine is
# left as it was found: the account qln the package makes is removed again
# when it was not there before, and whatever the packages touched is compared
# with a listing made before.
#
#   scripts/deb_e2e.sh QLN_DEB TOOLS_DEB LINUX_BIN
#     LINUX_BIN  build/linux/bin, the programs packaged again as the newer build
#
# Runs as root. Refuses to run where qln is installed already (it would
# replace that installation). Where systemd runs, the packages start and stop
# the service too; in a container without it deb-systemd-invoke does nothing
# and only the enablement is checked.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
deb=$(realpath "$1")
tools=$(realpath "$2")
linux_bin=$(realpath "$3")
say() { echo "deb: $*"; }
fail() { echo "deb: FAILED: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "runs as root only"
for p in qln qln-tools; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'installed' &&
    fail "the package $p is installed on this machine already; not touching it"
done

unit=/lib/systemd/system/ombrex-quillon.service
wants=/etc/systemd/system/multi-user.target.wants/ombrex-quillon.service
ini=/etc/qln/qln.ini
work=$(mktemp -d /tmp/qln-deb-XXXXXX)
had_account=$(getent passwd qln >/dev/null && echo 1)

# What the packages may touch, by name and owner.
snapshot() {
  { find /etc/qln /etc/systemd/system /lib/systemd/system /usr/lib/qln /usr/sbin/qln /usr/bin/netxcp \
         /usr/bin/upssim /usr/share/doc/qln /usr/share/doc/qln-tools /var/lib/systemd/deb-systemd-helper-enabled \
         /var/lib/systemd/deb-systemd-helper-masked /usr/share/man/man1 /usr/share/man/man5 /usr/share/man/man8 \
         -printf '%p %u:%g %m\n' 2>/dev/null
    getent passwd qln; getent group qln; dpkg-statoverride --list 2>/dev/null
  } | sort
}
snapshot > "$work/before"

apt_do() {
  DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300 \
    -o Dpkg::Options::=--force-confold "$@" >"$work/apt.log" 2>&1 ||
    { tail -20 "$work/apt.log" >&2; return 1; }
}
cleanup() {
  for p in qln qln-tools; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'installed\|config-files' && apt_do purge "$p"
  done
  if [ -z "$had_account" ] && getent passwd qln >/dev/null; then
    userdel qln 2>/dev/null; getent group qln >/dev/null && groupdel qln 2>/dev/null
  fi
  snapshot > "$work/after"
  if ! diff "$work/before" "$work/after" >"$work/diff"; then
    echo "deb: FAILED: the machine is not as it was found:" >&2; cat "$work/diff" >&2
    rm -rf "$work"; exit 1
  fi
  rm -rf "$work"
}
trap cleanup EXIT

version=$(dpkg-deb -f "$deb" Version)
newer=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<<"$version")

# --- install
apt_do install "$deb" "$tools" || fail "apt-get install"
for f in /usr/sbin/qln /usr/lib/qln/libPellux_noDB.so "$ini" "$unit" /usr/bin/netxcp /usr/bin/upssim \
         /usr/share/man/man8/qln.8.gz /usr/share/man/man5/qln.ini.5.gz \
         /usr/share/man/man1/netxcp.1.gz /usr/share/man/man1/upssim.1.gz; do
  [ -f "$f" ] || fail "$f is not installed"
done
[ "$(/usr/sbin/qln -v)" = "\$Version: $version \$" ] || fail "qln -v says '$(/usr/sbin/qln -v)'"
[ "$(stat -c '%U:%G %a' "$ini")" = "root:qln 640" ] || fail "$ini is $(stat -c '%U:%G %a' "$ini")"
id -nG qln | grep -qw dialout || fail "the account qln is not in dialout"
dpkg-query --showformat='${Conffiles}' --show qln | grep -q " $ini " || fail "$ini is no conffile"
systemd-analyze verify "$unit" >"$work/verify" 2>&1 || fail "systemd-analyze verify: $(cat "$work/verify")"
grep -qx 'ExecStart="/usr/sbin/qln" -c /etc/qln/qln.ini' "$unit" || fail "the unit's ExecStart= is not the packaged program"
[ -L "$wants" ] || fail "the unit is not enabled"
if [ -d /run/systemd/system ]; then
  systemctl is-active --quiet ombrex-quillon.service || fail "the service was not started"
  say "systemd runs here: the service was started"
else
  say "systemd does not run here: the unit is enabled, not started"
fi
say "installed $version: programs, private library, conffile root:qln 0640, unit verified and enabled, man pages"

# --- an edit, then a newer build over it
printf '; edited by the administrator\n[NetXCP]\nAgentPort=7011\n' >> "$ini"
cp "$ini" "$work/edited.ini"
bash "$top/scripts/package.sh" deb "$work" "$linux_bin" "$newer" >/dev/null || fail "the newer package"
apt_do install "$work/qln_${newer}_amd64.deb" "$work/qln-tools_${newer}_amd64.deb" || fail "the upgrade"
[ "$(dpkg-query -W -f='${Version}' qln)" = "$newer" ] || fail "qln is not at $newer after the upgrade"
cmp -s "$ini" "$work/edited.ini" || fail "the upgrade changed the edited $ini"
[ -z "$(ls /etc/qln | grep -v '^qln.ini$')" ] || fail "the upgrade left $(ls /etc/qln)"
say "upgraded to $newer: the edit kept"

# --- remove, then purge
apt_do remove qln qln-tools || fail "apt-get remove"
[ -e /usr/sbin/qln ] || [ -e "$unit" ] || [ -e /usr/lib/qln ] && fail "programs left after the removal"
cmp -s "$ini" "$work/edited.ini" || fail "the removal did not keep the edited $ini"
say "removed: programs and unit gone, the edited conffile kept"
apt_do purge qln qln-tools || fail "apt-get purge"
[ -e /etc/qln ] && fail "/etc/qln is left after the purge"
[ -e "$wants" ] || [ -L "$wants" ] && fail "the unit's enablement is left after the purge"
ls /var/lib/systemd/deb-systemd-helper-enabled 2>/dev/null | grep -q ombrex-quillon &&
  fail "deb-systemd-helper's state is left after the purge"
say "purged: conffile, its folder and the enablement gone"
