#!/usr/bin/env bash
# The Windows Installer package under Wine, in a fresh prefix, as an
# administrator meets it: a quiet install puts the files in the program
# folder, registers the service as "qln install" does and the event source,
# and starts it; the service relays to a UPS (upssim on a COM port linked into
# the prefix) once its INI file names that port; a newer build's package
# installed over it leaves one installed product, the edited INI file and a
# service running the new program; a quiet uninstall leaves no service, no
# event source and no program files, and the edited INI file.
#
#   scripts/msi_wine_e2e.sh MSI LINUX_BIN
#     MSI        the package (scripts/package.sh)
#     LINUX_BIN  build/linux/bin: upssim and netxcp
#
# The "newer build" is the same programs with a byte string appended to
# qln.exe (a PE file's loader ignores what follows its sections), packaged as
# the next patch version, so that the upgraded file is told from the old one.
#
# Either package: the x86 one (qln-<v>-win32.msi) in a 32-bit prefix under
# 32-bit Wine, the x64 one (qln-<v>-win64.msi) in a 64-bit prefix under
# 64-bit Wine. With the x64 package, the x86 package beside it (when it is
# there) is installed over it too, and must be refused without a change: the
# two install the same service.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
msi=$(realpath "$1")
bin=$(realpath "$2")
say() { echo "msi: $*"; }
. "$top/scripts/wait_until.sh"
. "$top/cmake/wine-env.sh"

case "$(msiinfo suminfo "$msi" 2>/dev/null | sed -n 's/^Template: *//p')" in
  Intel\;*) arch=win32 ;;
  x64\;*) arch=win64 ;;
  *) echo "msi: $msi is no x86 or x64 Windows Installer package" >&2; exit 1 ;;
esac
work=$(mktemp -d /tmp/qln-msi-XXXXXX)
export WINEPREFIX="$work/prefix"
qln_wine_env "$arch"
sim_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null
  wait 2>/dev/null
  [ -n "${QLN_MSI_KEEP:-}" ] && echo "msi: kept $work" >&2 || rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "msi: FAILED: $*" >&2; exit 1; }

service='Ombrex Quillon'
service_key="HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service"
source_key="HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\$service"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
folder="$WINEPREFIX/drive_c/Program Files/Ombrex/Quillon"

# One value of a key as "TYPE DATA", or nothing when key or value is missing.
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { $1 = ""; sub(/^ +/, ""); print }'
}
installed_products() {
  wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | grep -c "DisplayName.*REG_SZ *$service\$"
}
msiexec() { wine msiexec "$@" </dev/null >/dev/null 2>&1; }
answered() { "$bin/netxcp" -p "$udp_port" -t 2000 relay ident >"$work/netxcp.out" 2>&1; }

wineboot -i >/dev/null 2>&1 || fail "wineboot"
# A persistent server: the service lives as long as the prefix does.
wineserver -w >/dev/null 2>&1
wineserver -p >/dev/null 2>&1 || fail "wineserver"
wine cmd /c exit </dev/null >/dev/null 2>&1 || fail "wine"

# The UPS, behind COM5 of the prefix.
mkfifo "$work/sim.in"
"$bin/upssim" --link "$work/ups" <"$work/sim.in" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
exec 7>"$work/sim.in"
wait_until 10 test -L "$work/ups" || fail "upssim did not start"
rm -f "$WINEPREFIX/dosdevices/com5" && ln -s "$work/ups" "$WINEPREFIX/dosdevices/com5"

# --- install
# The packaged INI file leaves the UDP port at its default, which the service
# binds when the installation starts it.
! ss -Huln 'sport = :7010' | grep -q . || fail "UDP port 7010 is taken on this machine: $(ss -Hulnp 'sport = :7010')"
msiexec /i "$msi" /qn || fail "msiexec /i ended with $?"
for f in qln.exe Pellux_noDB.dll agentupdate.exe qln.ini; do
  [ -f "$folder/$f" ] || fail "$f is not in the program folder"
done
# What sc qc shows, read where the service manager keeps it (Wine's sc has no qc).
expect() {  # expect KEY VALUE "TYPE DATA"
  local got; got=$(reg_value "$1" "$2")
  [ "$got" = "$3" ] || fail "$2 of $1 is '$got', not '$3'"
}
expect "$service_key" Type 'REG_DWORD 0x10'             # own process
expect "$service_key" Start 'REG_DWORD 0x2'             # automatic
expect "$service_key" ErrorControl 'REG_DWORD 0x1'      # normal
expect "$service_key" DependOnService 'REG_MULTI_SZ PlugPlay'
expect "$service_key" ObjectName 'REG_SZ LocalSystem'
expect "$service_key" DisplayName "REG_SZ $service"
image=$(reg_value "$service_key" ImagePath)
# The program alone, no arguments (quoted by the install verb and by Windows;
# Wine's installer leaves the quotes off).
case "$image" in
  'REG_SZ C:\Program Files\Ombrex\Quillon\qln.exe' | 'REG_SZ "C:\Program Files\Ombrex\Quillon\qln.exe"') ;;
  *) fail "ImagePath is '$image'" ;;
esac
expect "$source_key" TypesSupported 'REG_DWORD 0x7'
case "$(reg_value "$source_key" EventMessageFile)" in
  'REG_EXPAND_SZ '*'\Pellux_noDB.dll') ;;
  *) fail "EventMessageFile is '$(reg_value "$source_key" EventMessageFile)'" ;;
esac
running() { wine sc query "$service" 2>/dev/null | tr -d '\r' | grep -q "STATE.*RUNNING"; }
wait_until 30 running || fail "the service was not started: $(wine sc query "$service" 2>&1 | tr -d '\r')"
[ "$(installed_products)" -eq 1 ] || fail "$(installed_products) installed products after the install"
say "installed ($arch): files, the service as the install verb makes it, the event source, running"

# --- the other architecture's package is refused while this one is there
other="${msi%-win64.msi}-win32.msi"
if [ "$arch" = win64 ] && [ -f "$other" ]; then
  cp "$folder/qln.exe" "$work/installed.exe"
  wine msiexec /i "$other" /qn /l*v "$work/other.log" </dev/null >/dev/null 2>&1 &&
    fail "the 32-bit package was installed over the 64-bit one"
  [ "$(installed_products)" -eq 1 ] || fail "$(installed_products) installed products after the refused install"
  [ ! -e "$WINEPREFIX/drive_c/Program Files (x86)/Ombrex/Quillon/qln.exe" ] ||
    fail "the refused 32-bit package left its files"
  cmp -s "$folder/qln.exe" "$work/installed.exe" || fail "the refused package changed the installed qln.exe"
  running || fail "the refused package stopped the service"
  # Refused by its launch condition, having found this package: Wine's log
  # leaves the condition's message out (Windows shows and logs it), so the
  # message is read from the package.
  grep -aq '^Property(S): QLN_OTHER_BUILD = {' "$work/other.log" ||
    fail "the 32-bit package did not find the installed 64-bit one"
  grep -a '^Action start' "$work/other.log" | tail -1 | grep -q 'LaunchConditions\.$' ||
    fail "the 32-bit package did not stop at its launch condition: $(grep -a '^Action start' "$work/other.log" | tail -3)"
  msiinfo export "$other" LaunchCondition | grep -q 'Ombrex Quillon (64-bit) is installed' ||
    fail "the 32-bit package does not say why it refuses"
  say "the 32-bit package is refused by its launch condition while the 64-bit one is installed; nothing changed"
fi

# --- the administrator's edit: the UPS's port and a free UDP port
udp_port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf '; edited by the administrator\r\n[Communications]\r\nCommunicationsPort=COM5:\r\n[NetXCP]\r\nAgentPort=%s\r\n' \
  "$udp_port" > "$folder/qln.ini"
cp "$folder/qln.ini" "$work/edited.ini"
wine net stop "$service" </dev/null >/dev/null 2>&1
wine net start "$service" </dev/null >/dev/null 2>&1
wait_until 90 answered || fail "the service did not relay to the UPS on COM5: $(cat "$work/netxcp.out")"
grep -q 'qln' "$work/netxcp.out" || fail "no relay answer: $(cat "$work/netxcp.out")"
say "the service relays to upssim on COM5 (UDP $udp_port)"

# --- agentupdate would copy over the package's files: it refuses, and
# leaves the service running and the files as they are.
mkdir -p "$work/update"
cp "$folder"/{qln.exe,Pellux_noDB.dll} "$work/update/" && printf 'not the package' >> "$work/update/qln.exe"
(cd "$work/update" && wine "C:\\Program Files\\Ombrex\\Quillon\\agentupdate.exe" </dev/null >"$work/update.out" 2>&1)
update_rc=$?
[ $update_rc -ne 0 ] || fail "agentupdate copied over the installed package"
grep -q 'installed by the package' "$work/update.out" || fail "agentupdate did not say why: $(cat "$work/update.out")"
cmp -s "$folder/qln.exe" "$work/update/qln.exe" && fail "agentupdate replaced the package's qln.exe"
running || fail "agentupdate stopped the packaged service"
say "agentupdate refuses to copy over the package (exit $update_rc) and leaves the service running"

# --- a newer build over it
version=$(awk -F'[-]' '{ print $2 }' <<<"$(basename "$msi")")
newer=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<<"$version")
mkdir -p "$work/newer"
cp "$folder"/{qln.exe,Pellux_noDB.dll,agentupdate.exe} "$work/newer/"
printf 'qln newer build %s' "$newer" >> "$work/newer/qln.exe"
bash "$top/scripts/package.sh" msi "$work/newer" "$work/newer" "$newer" >/dev/null || fail "the newer package"
msiexec /i "$work/newer/qln-$newer-$arch.msi" /qn || fail "msiexec /i of the newer package ended with $?"
[ "$(installed_products)" -eq 1 ] || fail "$(installed_products) installed products after the upgrade"
wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | grep -q "DisplayVersion.*$newer" ||
  fail "the installed product is not version $newer"
cmp -s "$folder/qln.ini" "$work/edited.ini" || fail "the upgrade changed the edited qln.ini"
cmp -s "$folder/qln.exe" "$work/newer/qln.exe" || fail "the upgrade did not put the new qln.exe in"
wait_until 90 answered || fail "the service does not relay after the upgrade"
say "upgraded to $newer: one product, the edit kept, the new program relaying"

# --- uninstall
msiexec /x "$work/newer/qln-$newer-$arch.msi" /qn || fail "msiexec /x ended with $?"
wine reg query "$service_key" >/dev/null 2>&1 && fail "the service is still there"
wine reg query "$source_key" >/dev/null 2>&1 && fail "the event source is still there"
for f in qln.exe Pellux_noDB.dll agentupdate.exe; do
  [ -e "$folder/$f" ] && fail "$f is still in the program folder"
done
cmp -s "$folder/qln.ini" "$work/edited.ini" || fail "the uninstall did not keep the edited qln.ini"
[ "$(installed_products)" -eq 0 ] || fail "still installed after msiexec /x"
say "removed: no service, no event source, no programs; the edited qln.ini kept"
