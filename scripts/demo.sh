#!/usr/bin/env bash
# The relay at work: builds qln, upssim and netxcp for Linux, starts the UPS
# simulator on a pseudo-terminal and qln in the foreground on a free UDP
# port, shows netxcp getting answers relayed from the simulated UPS, and
# stops both again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/deps.sh
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/qln-ccache}
cmake --preset linux -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build build/linux -j "$(nproc)" --target qln upssim netxcp Pellux_noDB
bin=$top/build/linux/bin

work=$(mktemp -d /tmp/qln-demo-XXXXXX)
sim_pid= qln_pid=
stop_all() {
  for pid in $qln_pid $sim_pid; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_all EXIT
. "$top/scripts/lib/relay_up.sh"

echo "== upssim: a simulated XCP UPS on a pseudo-terminal"
relay_up_upssim || { cat "$work/sim.out" "$work/sim.err"; exit 1; }
echo "upssim answers on $ups_line"

relay_up_udp_port
port=$udp_port
relay_up_ini "$work/qln.ini"
echo
echo "== qln daemon -c $work/qln.ini   (UDP port $port)"
cat "$work/qln.ini"
"$bin/qln" daemon -c "$work/qln.ini" >"$work/qln.out" 2>"$work/qln.err" 7>&- &
qln_pid=$!
echo "waiting until qln has found and identified the UPS..."
if ! relay_up_wait 60; then
  echo "qln does not relay; its standard error:"; cat "$work/qln.err"; exit 1
fi

show() { echo; echo "\$ netxcp $*"; "$bin/netxcp" "$@" || echo "(exit status $?)"; }
show -p "$port" relay
show -p "$port" ident
show -p "$port" relay caps
show -p "$port" -t 4000 cmd:8a
show -p "$port" -w Wopra3 cmd:8a

echo
echo "== qln's standard output"
cat "$work/qln.out"
echo
echo "== stopping qln and upssim"
stop_all
trap - EXIT
echo "done."
