#!/usr/bin/env bash
# The relay under its systemd unit's sandbox, as far as a machine without a
# running systemd allows. qln runs as the unit runs it: as the dedicated
# account qln with the group dialout, no new privileges, no capabilities,
# umask 077, its runtime folder (0700, the account's) in $RUNTIME_DIRECTORY,
# the INI file beside the program (root:qln 0640: read, never written), and a
# serial line that is
# root:dialout 0660 as udev makes serial devices (a pseudo-terminal of
# upssim). It must find the UPS, report ready, relay, and stop on SIGTERM.
#
# What systemd itself would enforce (seccomp, address families, a read-only
# file system, the device list) cannot be switched on here; the run is traced
# instead, and every system call the agent made must be one the unit's
# SystemCallFilter= admits, every socket of a family its
# RestrictAddressFamilies= admits, and every file it opened for writing or
# made must lie in its runtime folder or under /dev (the only places
# ProtectSystem=strict leaves writable for it). The filter lines are read
# from the unit's source, agent/systemd_unit_posix.cpp.
#
# Runs as root. An account qln that the script had to make is removed again.
#
#   scripts/sandbox_e2e.sh [BUILD_DIR]      (default build/linux)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$top/build/linux}/bin
account=qln
say() { echo "sandbox: $*"; }
for p in qln upssim netxcp libPellux_noDB.so; do
  [ -e "$bin/$p" ] || { echo "sandbox: $bin/$p is not built" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "sandbox: runs as root only (it acts as the account $account)" >&2; exit 1; }
for t in setpriv strace systemd-analyze python3 useradd userdel; do
  command -v "$t" >/dev/null || { echo "sandbox: $t is missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/qln-sandbox-XXXXXX)
runtime=/run/qln-sandbox-$$
sim_pid= strace_pid= notify_pid= made_account=
cleanup() {
  if [ -n "$strace_pid" ]; then
    for c in $(cat /proc/"$strace_pid"/task/*/children 2>/dev/null); do kill -KILL "$c" 2>/dev/null; done
    kill -KILL "$strace_pid" 2>/dev/null
  fi
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null
  [ -n "$notify_pid" ] && kill -TERM "$notify_pid" 2>/dev/null
  wait 2>/dev/null
  [ -n "${QLN_SANDBOX_KEEP:-}" ] && echo "sandbox: kept $work" >&2 || rm -rf "$work"
  rm -rf "$runtime"
  [ -n "$made_account" ] && userdel "$account" 2>/dev/null
}
trap cleanup EXIT
fail() {
  echo "sandbox: $*" >&2
  for f in qln.err netxcp.out; do [ -s "$work/$f" ] && { echo "-- $f:"; tail -5 "$work/$f"; } >&2; done
  exit 1
}
. "$top/scripts/lib/relay_up.sh"

# The account, as `qln install` makes it.
if ! getent passwd "$account" >/dev/null; then
  groups=(); getent group dialout >/dev/null && groups=(--groups dialout)
  useradd --system --user-group --no-create-home --home-dir /nonexistent \
    --shell /usr/sbin/nologin "${groups[@]}" "$account" || fail "useradd failed"
  made_account=1
fi
serial_gid=$(getent group dialout | cut -d: -f3)
[ -n "$serial_gid" ] || fail "no group dialout"

# The program as installed: qln and its library in a folder of root's that
# the account may read, the INI file beside it open to the account's group
# only (it holds the password).
chmod 755 "$work"
mkdir -m 755 "$work/bin"
cp "$bin/qln" "$bin/libPellux_noDB.so" "$work/bin/"

# The UPS; its pseudo-terminal becomes a serial device as udev makes them.
relay_up_upssim || fail "upssim did not start"
chgrp dialout "$ups_line" && chmod 660 "$ups_line" || fail "the line cannot be given to dialout"

relay_up_udp_port
relay_up_ini "$work/bin/qln.ini"
# The INI file holds the password: the agent's account may read it, no more.
chown root:"$account" "$work/bin/qln.ini" && chmod 640 "$work/bin/qln.ini"

# systemd's notification socket (any service may send to systemd's own).
python3 -c '
import socket, sys, os
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o666)
while True:
    print(s.recv(4096).decode(errors="replace").replace("\n", " "), flush=True)
' "$work/notify" >"$work/notify.log" 2>&1 &
notify_pid=$!
wait_until 10 test -S "$work/notify" || fail "no notification socket"

# RuntimeDirectory=qln, RuntimeDirectoryMode=0700: made by systemd, the account's.
mkdir -m 700 "$runtime" && chown "$account:$account" "$runtime" || fail "no runtime folder"
touch "$work/trace" && chown "$account" "$work/trace"

(
  cd / && umask 077 &&
  exec env -i PATH=/usr/bin:/bin NOTIFY_SOCKET="$work/notify" RUNTIME_DIRECTORY="$runtime" \
    setpriv --reuid="$account" --regid="$account" --groups="$serial_gid" --no-new-privs \
      --inh-caps=-all --bounding-set=-all \
      strace -f -qq -y -o "$work/trace" "$work/bin/qln"
) </dev/null >"$work/qln.out" 2>"$work/qln.err" &
strace_pid=$!

relay() { "$bin/netxcp" -p "$udp_port" -t 5000 "$@" >>"$work/netxcp.out" 2>&1; }
wait_until 120 grep -q 'READY=1' "$work/notify.log" || fail "no READY=1: the UPS was not found (notify: $(cat "$work/notify.log"))"
say "READY=1 from qln as $(ps -o user=,group=,supgrp= -p "$(cat /proc/$strace_pid/task/*/children | awk '{print $1}')" 2>/dev/null | tr -s ' ')"
relay_up_wait 30 || fail "the agent did not relay"
relay status || fail "status request unanswered"
relay -w Wopra3 cmd:8A || fail "privileged request unanswered"
say "relayed: identification, status, a privileged command"

# The runtime folder holds the status file and nothing else: the named
# events are made only when a control is sent.
status_file="$runtime/qln-$udp_port.status"
grep -q '^state=attached$' "$status_file" 2>/dev/null || fail "no status file saying attached: $(ls -A "$runtime")"
leftover=$(find "$runtime" -mindepth 1 ! -path "$status_file" | wc -l)
qln_pid=$(cat /proc/"$strace_pid"/task/*/children | awk '{print $1}')
[ -n "$qln_pid" ] || fail "qln is not running"
kill -TERM "$qln_pid"
wait_until 30 bash -c "! kill -0 $strace_pid 2>/dev/null" || fail "the agent did not stop on SIGTERM"
wait "$strace_pid"; rc=$?
strace_pid=
[ $rc -eq 0 ] || fail "qln ended with $rc"
grep -q 'STOPPING=1' "$work/notify.log" || fail "no STOPPING=1"
[ "$leftover" -eq 0 ] || fail "$leftover entries besides the status file in the runtime folder after the start"
[ "$(ls -A "$runtime")" = "qln-$udp_port.status" ] || fail "the runtime folder holds more than the status file after the stop: $(ls -A "$runtime")"
grep -q '^state=stopped$' "$status_file" || fail "the status file does not say stopped: $(cat "$status_file")"
say "stopped on SIGTERM; the runtime folder holds only the status file, which says stopped"

# The trace against the unit's filters.
unit_src="$top/agent/systemd_unit_posix.cpp"
filters=$(grep -o '"SystemCallFilter=[^"\\]*' "$unit_src" | sed 's/^"SystemCallFilter=//')
families=$(grep -o '"RestrictAddressFamilies=[^"\\]*' "$unit_src" | sed 's/^"RestrictAddressFamilies=//')
[ -n "$filters" ] && [ -n "$families" ] || fail "the unit's filters were not found in $unit_src"
python3 - "$work/trace" "$runtime" "$families" "$filters" <<'PY' || fail "the agent did something its unit forbids"
import re, subprocess, sys
trace, runtime, families, filters = (sys.argv[1], sys.argv[2], sys.argv[3].split(),
                                     sys.argv[4].splitlines())

def expand(name, seen=None):
    seen = set() if seen is None else seen
    out = subprocess.run(["systemd-analyze", "syscall-filter", "--no-pager", name],
                         capture_output=True, text=True, check=True).stdout
    calls = set()
    for line in out.splitlines()[1:]:
        word = line.strip()
        if not word or word.startswith("#"):
            continue
        if word.startswith("@"):
            if word not in seen:
                seen.add(word)
                calls |= expand(word, seen)
        else:
            calls.add(word)
    return calls

allowed = set()
for line in filters:
    deny = line.startswith("~")
    names = set()
    for group in line.lstrip("~").split():
        names |= expand(group) if group.startswith("@") else {group}
    allowed = (allowed - names) if deny else (allowed | names)

used, bad_families, writes = set(), set(), set()
call = re.compile(r'^\d+\s+(?:<\.\.\. (\w+) resumed>|(\w+)\()')
first_exec = True
for line in open(trace):
    m = call.match(line)
    if not m:
        continue
    name = m.group(1) or m.group(2)
    if name == "execve" and first_exec:
        first_exec = False  # strace starting the agent, before the sandbox's filter would apply
        continue
    used.add(name)
    s = re.search(r'socket\((AF_\w+)', line)
    if s and s.group(1) not in families:
        bad_families.add(s.group(1))
    # strace -y names the folder a descriptor stands for: 3</run/qln>.
    o = re.search(r'(?:openat|open|mknodat|mkdirat|mkdir|unlinkat|rmdir)\('
                  r'(?:(?:AT_FDCWD|\d+<([^>]*)>), )?"([^"]*)"(.*)', line)
    if o:
        folder, path, rest = o.group(1), o.group(2), o.group(3)
        if not path.startswith("/"):
            path = (folder or "") + "/" + path  # the agent runs in /, as systemd starts it
        writing = not name.startswith("open") or re.search(r'O_WRONLY|O_RDWR|O_CREAT|O_TRUNC', rest)
        if writing and not (path.startswith(runtime + "/") or path == runtime
                            or path.startswith("/dev/")):
            writes.add(path)
denied = sorted(used - allowed)
print("sandbox: %d distinct system calls, all admitted by SystemCallFilter=%s" % (len(used), " / ".join(filters))
      if not denied else "sandbox: system calls the unit's filter denies: " + " ".join(denied))
if bad_families:
    print("sandbox: socket families outside RestrictAddressFamilies=: " + " ".join(sorted(bad_families)))
if writes:
    print("sandbox: opened for writing outside the runtime folder and /dev: "
          + " ".join(sorted(writes)))
sys.exit(1 if denied or bad_families or writes else 0)
PY
say "sockets only of $families; nothing opened for writing but $runtime and /dev (the INI file read only)"
say "passed"
