#!/usr/bin/env bash
# One end-to-end run of qln under valgrind: the agent as a systemd service
# (a stand-in notification socket), upssim as its UPS, netxcp as a client on
# 127.0.0.1. It relays a few requests, is stopped with SIGTERM as systemd
# stops it, and must end with exit code 0, no valgrind error (memory errors
# and definite leaks) and no descriptor left open beyond the standard three.
#
#   scripts/valgrind_e2e.sh [BUILD_DIR]      (default build/linux)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$top/build/linux}/bin
for p in qln upssim netxcp; do
  [ -x "$bin/$p" ] || { echo "valgrind: $bin/$p is not built" >&2; exit 1; }
done

work=$(mktemp -d /tmp/qln-valgrind-XXXXXX)
sim_pid= qln_pid= notify_pid=
cleanup() {
  [ -n "$qln_pid" ] && kill -KILL "$qln_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null
  [ -n "$notify_pid" ] && kill -TERM "$notify_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "valgrind: $*" >&2; [ -f "$work/valgrind.log" ] && tail -40 "$work/valgrind.log" >&2; exit 1; }

. "$top/scripts/lib/relay_up.sh"

# The UPS, a free UDP port and the INI file that joins them.
relay_up_upssim || fail "upssim did not start"
relay_up_udp_port
relay_up_ini "$work/qln.ini"

# systemd's notification socket.
python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
while True:
    print(s.recv(4096).decode(errors="replace"), flush=True)
' "$work/notify" >"$work/notify.log" 2>&1 &
notify_pid=$!
wait_until 10 test -S "$work/notify" || fail "no notification socket"

# The agent takes only a folder of its own account that no one else may enter.
mkdir -m 700 "$work/events"
QLN_EVENT_DIR="$work/events" NOTIFY_SOCKET="$work/notify" \
  valgrind --quiet --track-fds=yes --error-exitcode=1 --leak-check=full \
    --errors-for-leak-kinds=definite --show-leak-kinds=definite \
    --log-file="$work/valgrind.log" \
    "$bin/qln" -c "$work/qln.ini" </dev/null >"$work/qln.out" 2>"$work/qln.err" 7>&- &
qln_pid=$!

# Under valgrind everything is slower: enumeration and identification take a
# while before the relay answers for its UPS.
relay() { "$bin/netxcp" -p "$udp_port" -t 15000 "$@" >>"$work/netxcp.out" 2>&1; }
relay_up_wait 180 || fail "the agent never relayed (stderr: $(tail -3 "$work/qln.err"))"
grep -q 'READY=1' "$work/notify.log" || fail "no READY=1 sent"
relay status || fail "status request unanswered"
relay -w Wopra3 cmd:8A || fail "privileged request unanswered"
relay relay relay ident caps || fail "several frames unanswered"

kill -TERM "$qln_pid"
wait_until 60 bash -c "! kill -0 $qln_pid 2>/dev/null" || fail "the agent did not stop on SIGTERM"
wait "$qln_pid"
rc=$?
qln_pid=
[ $rc -eq 0 ] || fail "qln ended with $rc under valgrind"

# Descriptors: valgrind lists those still open at the end; beyond the three
# standard ones only what the agent was handed by its parent may be left.
leaked=$(awk '
  /Open (file descriptor|AF_[A-Z0-9]+ socket) [0-9]+:/ {
    if (fd != "" && !inherited) n++
    match($0, /(descriptor|socket) [0-9]+:/); fd = substr($0, RSTART, RLENGTH)
    split(fd, parts, " "); num = parts[2] + 0
    if (num <= 2) fd = ""
    inherited = 0; next
  }
  /<inherited from parent>/ { inherited = 1 }
  END { if (fd != "" && !inherited) n++; print n + 0 }' "$work/valgrind.log")
[ "$leaked" -eq 0 ] || fail "$leaked descriptors the agent opened were still open at its end"
echo "valgrind: qln relayed under valgrind and stopped cleanly: no error, no descriptor left open"
