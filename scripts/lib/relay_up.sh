# Sourced by the scripts that run a relay end to end (demo.sh,
# sandbox_e2e.sh, valgrind_e2e.sh): upssim as the UPS on a pseudo-terminal,
# a free UDP port, the INI file that joins the two, and the bounded wait until
# qln relays. How qln itself is started (in the foreground, in a sandbox,
# under valgrind) differs, and stays in each script.
#
# Needs $bin (the folder of upssim and netxcp) and $work (a scratch folder
# the caller removes); the caller stops $sim_pid.
#
#   relay_up_upssim         starts upssim with its control lines on
#                           descriptor 7 (kept open: upssim ends at their
#                           end); sets sim_pid, and ups_line to its
#                           pseudo-terminal. Status 1 when it did not start.
#   relay_up_udp_port       sets udp_port to a UDP port free on 127.0.0.1
#   relay_up_ini FILE       writes FILE: the UPS on ups_line, the relay on udp_port
#   relay_up_wait SECONDS   polls netxcp (a relay and an identification
#                           request, 2 s each) until qln answers, at most
#                           SECONDS; its output goes to $work/netxcp.out
. "$(dirname "${BASH_SOURCE[0]}")/../wait_until.sh"

relay_up_upssim() {
  mkfifo "$work/sim.in" || return 1
  "$bin/upssim" <"$work/sim.in" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  exec 7>"$work/sim.in"
  wait_until 10 grep -qs . "$work/sim.out" || return 1
  ups_line=$(head -1 "$work/sim.out")
}

relay_up_udp_port() {
  udp_port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
}

relay_up_ini() {
  cat >"$1" <<INI
[Communications]
CommunicationsPort=$ups_line
[NetXCP]
AgentPort=$udp_port
INI
}

relay_up_wait() {
  wait_until "$1" bash -c '"$0" -p "$1" -t 2000 relay ident >>"$2" 2>&1' \
    "$bin/netxcp" "$udp_port" "$work/netxcp.out"
}
