#!/usr/bin/env bash
# CPU that qln uses while idle: with a UPS attached (upssim) and nothing asked
# of it, and while it searches for a UPS that does not answer. Prints CPU
# seconds per minute for each state, measured from /proc over SECONDS.
#
#   bench/idle_cpu.sh [SECONDS] [BUILD_DIR]      (defaults 30, build/linux)
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
bin=${2:-$top/build/linux}/bin
for p in qln upssim netxcp; do
  [ -x "$bin/$p" ] || { echo "idle_cpu: $bin/$p is not built" >&2; exit 1; }
done
work=$(mktemp -d /tmp/qln-idle-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
ticks=$(getconf CLK_TCK)

# CPU ticks (user + system) of a process so far.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
free_port() {
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# One state: start upssim with SETTINGS, qln on it, wait for READY (a relay
# answer, or the first loss report when the UPS is silent), then measure.
measure() {
  local label=$1 name=$2 settings=$3 ready=$4
  mkfifo "$work/$name.in"
  "$bin/upssim" $settings <"$work/$name.in" >"$work/$name.sim" 2>/dev/null &
  pids+=($!)
  exec {fd}>"$work/$name.in"
  for _ in $(seq 100); do grep -q . "$work/$name.sim" && break; sleep 0.1; done
  local port udp
  port=$(head -1 "$work/$name.sim")
  udp=$(free_port)
  printf '[Communications]\nCommunicationsPort=%s\n[NetXCP]\nAgentPort=%s\n' "$port" "$udp" >"$work/$name.ini"
  "$bin/qln" daemon -c "$work/$name.ini" >"$work/$name.out" 2>"$work/$name.err" {fd}>&- &
  local qln=$!
  pids+=($qln)
  local ok=
  for _ in $(seq 120); do
    if [ "$ready" = relay ]; then
      "$bin/netxcp" -p "$udp" -t 1000 relay >/dev/null 2>&1 && { ok=1; break; }
    else
      grep -q . "$work/$name.err" && { ok=1; break; }
      sleep 0.5
    fi
  done
  [ -n "$ok" ] || { echo "idle_cpu: $label: qln never got ready: $(tail -2 "$work/$name.err")" >&2; return 1; }
  local before after
  before=$(cpu_ticks "$qln")
  sleep "$seconds"
  after=$(cpu_ticks "$qln")
  awk -v d=$((after - before)) -v t="$ticks" -v s="$seconds" -v n="$label" \
    'BEGIN { if (d == 0) printf "%-34s %10s\n", n, sprintf("< %.3f", 60 / (t * s)); else printf "%-34s %10.3f\n", n, d / t * 60 / s }'
}

printf '%-34s %10s\n' "qln idle over ${seconds} s" "CPU s/min"
measure "UPS attached, no requests" attached "" relay
measure "searching (the UPS is silent)" searching "--silence on --pnp none" lost
