#!/usr/bin/env bash
# The Debian packages under a real systemd: a Debian 12 root booted with
# systemd as its PID 1 in a container (systemd-nspawn, cgroup v2, bpf()
# allowed so that DevicePolicy= is enforced), the packages installed there,
# and the service checked as systemd runs it: its start and READY=1, the
# status line systemd shows while it searches and while it relays, its
# reports in the journal, a request relayed, pause and resume, a UPS that
# goes silent, its sandbox, systemd's exposure rating of the unit, an upgrade
# while it runs, its stop and the purge. Every check prints one line, "ok"
# or "FAILED", and the run ends with the count.
#
#   scripts/systemd_e2e.sh QLN_DEB TOOLS_DEB
#
# The root is made once with debootstrap from the Debian archive the
# machine's apt sources name (QLN_DEBIAN_MIRROR overrides it) and kept in
# QLN_SYSTEMD_CACHE (default /var/cache/qln-systemd-e2e), in a folder named
# by a hash of what went into it; it is made under a temporary name and
# renamed when complete, so a half-made root is never booted. The container
# runs on a throw-away overlay (--volatile=overlay): the cached root is never
# changed, and nothing of the run is left on the machine.
#
# Exit status: 0 all checks passed, 1 a check failed, 77 the machine cannot
# make or boot the container (said plainly; scripts/test.sh counts it as
# skipped, not as passed). Runs as root.
set -uo pipefail
started=$SECONDS
deb=$(realpath "$1")
tools=$(realpath "$2")
say() { echo "systemd: $*"; }
skip() {
  say "SKIPPED: $* (the checks under systemd were not run)"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "runs as root only"
for t in debootstrap systemd-nspawn nsenter dpkg-deb flock sha256sum; do
  command -v "$t" >/dev/null || skip "$t is missing (scripts/deps.sh installs it)"
done
[ -f "$deb" ] && [ -f "$tools" ] || { say "FAILED: no packages $1 $2"; exit 1; }

work=$(mktemp -d /tmp/qln-systemd-XXXXXX)
machine=qln-e2e-$$
nspawn_pid='' sim_pid=''
sims=()  # "pid fd" of the template instances' upssims
had_nspawn_run=1  # until this run holds the lock, below
cleanup() {
  # upssim first: a process entered from outside is none of the container's
  # systemd's children, and its shutdown would wait for it.
  for entry in "${sims[@]}"; do
    set -- $entry
    (echo quit >&"$2") 2>/dev/null
    eval "exec $2>&-"
    for _ in $(seq 10); do kill -0 "$1" 2>/dev/null || break; sleep 0.5; done
    kill "$1" 2>/dev/null
  done
  if [ -n "$sim_pid" ]; then
    (echo quit >&7) 2>/dev/null
    exec 7>&-
    for _ in $(seq 10); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.5; done
    kill "$sim_pid" 2>/dev/null
  fi
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    # Nothing in the container is kept (it runs on an overlay): no orderly
    # stop of its units is needed.
    [ -n "${leader:-}" ] && in_ct systemctl poweroff --force --no-block >/dev/null 2>&1
    for _ in $(seq 40); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
    kill -TERM "$nspawn_pid" 2>/dev/null
    for _ in $(seq 20); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
    kill -KILL "$nspawn_pid" 2>/dev/null
  fi
  wait 2>/dev/null
  # systemd-nspawn's folder of locks, when this run made it (emptied by
  # then; rmdir leaves one that another container still uses).
  [ -z "$had_nspawn_run" ] &&
    rmdir /run/systemd/nspawn/propagate /run/systemd/nspawn/locks /run/systemd/nspawn 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# --- the root, cached
cache=${QLN_SYSTEMD_CACHE:-/var/cache/qln-systemd-e2e}
suite=bookworm
mirror=${QLN_DEBIAN_MIRROR:-$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list \
  /etc/apt/sources.list.d/*.list 2>/dev/null | grep -E '^[[:space:]]*(URIs:|deb )' |
  grep -oE 'https?://[^[:space:]]*/debian/?([[:space:]]|$)' | head -1 | tr -d '[:space:]')}
mirror=${mirror:-http://deb.debian.org/debian}
# What the packages need besides the base system: the container has no
# network, so apt must find every dependency installed already.
deps=$(for d in "$deb" "$tools"; do dpkg-deb -f "$d" Depends; done | tr ',' '\n' |
  sed 's/|.*//; s/(.*)//; s/:any//; s/[[:space:]]//g' | grep -v '^$' | sort -u | paste -sd, -)
include=$(tr ',' '\n' <<<"systemd,systemd-sysv,dbus,adduser,$deps" | sort -u | paste -sd, -)
# Raise when the root is made differently.
recipe=1
key=$(printf '%s\n' "$recipe" "$suite" "$mirror" minbase "$include" \
  "$(dpkg-query -W -f='${Version}' debootstrap 2>/dev/null)" | sha256sum | cut -c1-16)
root=$cache/$suite-$key
mkdir -p "$cache" || skip "cannot make $cache"
# One run at a time: the root is made once, and systemd-nspawn locks the
# folder it boots.
exec 9>"$cache/.lock"
flock -w 900 9 || skip "another run has held $cache for 15 minutes"
had_nspawn_run=$([ -e /run/systemd/nspawn ] && echo 1)
# A folder left by a run that was stopped half-way is never used; drop it,
# with what debootstrap had mounted in it (/proc, /sys, ...).
drop_root() {
  findmnt -rn -o TARGET | grep -F "$1/" | sort -r | while read -r m; do umount -l "$m"; done
  rm -rf --one-file-system "$1"
}
for stale in "$cache"/*.tmp.*; do
  [ -d "$stale" ] && ! kill -0 "${stale##*.}" 2>/dev/null && drop_root "$stale"
done
if [ ! -d "$root" ]; then
  say "making the Debian 12 root (once; cached in $root): $mirror, $include"
  tmp=$root.tmp.$$
  if ! debootstrap --variant=minbase --include="$include" "$suite" "$tmp" "$mirror" \
        >"$work/debootstrap.log" 2>&1; then
    tail -5 "$work/debootstrap.log" | sed 's/^/systemd:   /'
    drop_root "$tmp"
    skip "debootstrap could not make the root from $mirror"
  fi
  echo qln-e2e >"$tmp/etc/hostname"
  rm -rf "$tmp/var/cache/apt/archives/"*.deb
  mv -T "$tmp" "$root" || skip "cannot store the root in $root"
fi
# Roots of other recipes or archives that no run has used for a fortnight go.
touch "$root"
find "$cache" -mindepth 1 -maxdepth 1 -type d -name "$suite-*" ! -name '*.tmp.*' ! -path "$root" \
  -mtime +14 -exec rm -rf --one-file-system {} +

# --- the container
. "$(dirname "$0")/wait_until.sh"

# A command inside the container, as root, with a clean environment.
in_ct() {
  nsenter -t "$leader" -a -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C SYSTEMD_PAGER= \
    SYSTEMD_COLORS=0 "$@"
}

mkdir "$work/in"
cp "$deb" "$work/in/qln.deb"
cp "$tools" "$work/in/qln-tools.deb"
version=$(dpkg-deb -f "$deb" Version)
# The upgrade: the same programs as the next patch version.
newer=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<<"$version")
dpkg-deb -R "$deb" "$work/newer" &&
  sed -i "s/^Version: .*/Version: $newer/" "$work/newer/DEBIAN/control" &&
  dpkg-deb -b -Zxz "$work/newer" "$work/in/qln-newer.deb" >/dev/null || { say "FAILED: no newer package"; exit 1; }

# systemd 252 inside gets the unified hierarchy (cgroup v2) even where the
# host has a hybrid one. systemd-nspawn's own filter refuses bpf(), and then
# systemd attaches no device filter and DevicePolicy= is silently not
# enforced: the system call is allowed. CAP_BPF is not needed (the
# container keeps CAP_SYS_ADMIN).
SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 setsid systemd-nspawn -q -D "$root" -M "$machine" -b \
  --volatile=overlay --private-network --keep-unit --register=no \
  --system-call-filter=bpf --console=pipe \
  --bind-ro="$work/in:/mnt/qln" </dev/null >"$work/console.log" 2>&1 &
nspawn_pid=$!
leader=
gone() { ! kill -0 "$nspawn_pid" 2>/dev/null; }
# The container's PID 1 is systemd-nspawn's child that runs systemd (its
# helpers for the set-up come and go before).
find_leader() {
  local p
  for p in $(ps -o pid= --ppid "$nspawn_pid"); do
    [ "$(cat "/proc/$p/comm" 2>/dev/null)" = systemd ] && { leader=$p; return 0; }
  done
  leader=''
  gone
}
wait_until 30 find_leader && [ -n "$leader" ] ||
  skip "systemd-nspawn did not start a container: $(tail -3 "$work/console.log" | paste -sd' ' -)"
booted() { [[ $(in_ct systemctl is-system-running 2>/dev/null) =~ ^(running|degraded)$ ]]; }
boot_over() { booted || gone; }
wait_until 60 boot_over && ! gone && booted ||
  skip "systemd did not boot in the container ($(in_ct systemctl is-system-running 2>&1 | head -1)): $(tail -3 "$work/console.log" | paste -sd" " -)"
say "booted $(in_ct systemctl --version | head -1) as PID 1 of a container ($(($SECONDS - started)) s)"

# --- the checks
passed=0 failures=0
check() {  # check WHAT COMMAND...: one line, ok or FAILED
  local what=$1; shift
  if "$@"; then
    echo "systemd: ok      $what"; passed=$((passed + 1))
  else
    echo "systemd: FAILED  $what${detail:+ ($detail)}"; failures=$((failures + 1))
  fi
  detail=
}
detail=
unit=ombrex-quillon.service
prop() { in_ct systemctl show -p "$1" --value "$unit"; }
qln_status() { in_ct qln -c /etc/qln/qln.ini status >/dev/null 2>&1; echo $?; }
status_is() { [ "$(qln_status)" = "$1" ]; }
journal_has() {
  # Read whole, then searched: grep -q ending early would fail the pipe.
  local text; text=$(in_ct journalctl -t qln -b --no-pager -o cat 2>/dev/null)
  grep -qF "$1" <<<"$text" && return 0
  detail="not under -t qln; the unit's journal has it as: $(in_ct journalctl -u "$unit" -b --no-pager \
    -o short 2>/dev/null | grep -F "$1" | tail -1 | cut -d' ' -f5-)"
  return 1
}
# The status line must come and then stay: nothing sent after it (a
# "Running" of the service host) may replace it.
steady() {
  local fn=$1
  wait_until 5 "$fn" || return 1
  local saved=$detail
  changed() { ! "$fn"; }
  wait_until 3 changed && return 1
  detail=$saved
}
# A control line to upssim, answered by one line of its own.
sim_answered() { [ "$(wc -l <"$work/sim.out")" -ge "$1" ]; }
sim() {
  local n=$(($(wc -l <"$work/sim.out") + 1))
  echo "$*" >&7
  wait_until 5 sim_answered "$n" && [ "$(tail -1 "$work/sim.out")" = ok ] ||
    say "upssim did not take '$*': $(tail -1 "$work/sim.out")"
}

device_policy_enforced() {
  in_ct systemd-run -q --wait --pipe -p DevicePolicy=closed /bin/sh -c 'exec 3<>/dev/net/tun' \
    </dev/null >/dev/null 2>&1 && { detail="a unit with DevicePolicy=closed opened /dev/net/tun"; return 1; }
  in_ct systemd-run -q --wait --pipe /bin/sh -c 'exec 3<>/dev/net/tun' </dev/null >/dev/null 2>&1 ||
    { detail="/dev/net/tun cannot be opened at all"; return 1; }
}
check "DevicePolicy= is enforced here (a closed unit cannot open /dev/net/tun, an open one can)" \
  device_policy_enforced

install_both() {
  in_ct apt-get install -y -q --no-install-recommends /mnt/qln/qln.deb /mnt/qln/qln-tools.deb \
    >"$work/apt.log" 2>&1 || { detail=$(tail -2 "$work/apt.log" | paste -sd' ' -); return 1; }
}
check "both packages installed with apt-get ($version)" install_both
check "the installation started the service" in_ct systemctl is-active --quiet "$unit"

# The UPS's line as udev makes serial devices: root:dialout 0660, reached by
# the name the INI file gives.
in_ct sh -c 'cat >/etc/qln/qln.ini' <<'INI'
[Communications]
CommunicationsPort=/dev/ttyUPS0
Timing=prompt
INI
# READY=1 is what ends a Type=notify start: restart returns once it came.
ready() {
  in_ct systemctl restart "$unit" || { detail="systemctl restart failed"; return 1; }
  [ "$(prop ActiveState)/$(prop SubState)" = active/running ] || { detail="$(prop ActiveState)"; return 1; }
}
check "start: the service reports READY=1 with no UPS on its line (active/running)" ready
searching_line() {
  local text; text=$(prop StatusText)
  detail="StatusText=$text"
  grep -qiE 'search|looking for' <<<"$text" && grep -qF /dev/ttyUPS0 <<<"$text"
}
check "searching: StatusText says it searches, and on which port, and stays so" steady searching_line
check "searching: qln status says so (exit 150)" status_is 150

mkfifo "$work/sim.in"
nsenter -t "$leader" -a -- /usr/bin/upssim --model QlnE2E1500 <"$work/sim.in" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
exec 7>"$work/sim.in"
wait_until 10 grep -q . "$work/sim.out" || { say "FAILED: upssim did not start: $(cat "$work/sim.err")"; exit 1; }
pty=$(head -1 "$work/sim.out")
in_ct sh -c "chgrp dialout $pty && chmod 0660 $pty && ln -sfn $pty /dev/ttyUPS0"
sim_t0=$SECONDS
check "the UPS is found on /dev/ttyUPS0 -> $pty (root:dialout 0660): qln status exit 0" \
  wait_until 30 status_is 0
say "         found $((SECONDS - sim_t0)) s after the line appeared"
attached_line() {
  local text baud; text=$(prop StatusText)
  baud=$(in_ct qln -c /etc/qln/qln.ini status --json 2>/dev/null | grep -oE '"baud": *[0-9]+' | grep -oE '[0-9]+$')
  detail="StatusText=$text"
  grep -qF QlnE2E1500 <<<"$text" && [ -n "$baud" ] && grep -qF "$baud" <<<"$text"
}
check "attached: StatusText names the model and the speed, and stays so" steady attached_line
check "journalctl -t qln has the start report" journal_has "The relay started on UDP port 7010"
check "journalctl -t qln has the UPS found report" journal_has "UPS found:"

relay() { in_ct netxcp -h 127.0.0.1 -p 7010 -t 3000 relay "$@" >>"$work/netxcp.out" 2>&1; }
check "a request relayed (netxcp relay ident on 127.0.0.1:7010)" wait_until 10 relay ident

paused_line() { detail="StatusText=$(prop StatusText)"; grep -qi paused <<<"$detail"; }
in_ct qln -c /etc/qln/qln.ini pause >/dev/null 2>&1
check "pause: qln pause, then qln status exit 151" wait_until 10 status_is 151
check "pause: StatusText says paused, and stays so" steady paused_line
in_ct qln -c /etc/qln/qln.ini resume >/dev/null 2>&1
check "resume: qln status exit 0" wait_until 10 status_is 0
check "resume: StatusText names the UPS again, and stays so (no \"Running\" over it)" steady attached_line
check "resume: a request relayed" wait_until 10 relay ident

sim silence on
silent_t0=$SECONDS
lost() {
  local rc; rc=$(qln_status)
  detail="qln status exit $rc"
  [ "$rc" = 150 ] && journal_has "UPS communications lost."
}
check "silent UPS: lost (qln status exit 150, \"UPS communications lost.\" in the journal) within 45 s" \
  wait_until 45 lost
say "         after $((SECONDS - silent_t0)) s"
sim silence off
check "silent UPS answering again: attached (exit 0) within 30 s" wait_until 30 status_is 0

main_pid=$(prop MainPID)
sandboxed() {
  local s uid; s=$(in_ct cat "/proc/$main_pid/status") || { detail="no process $main_pid"; return 1; }
  uid=$(in_ct id -u qln)
  detail=$(grep -E '^(Uid|CapEff|NoNewPrivs|Seccomp):' <<<"$s" | tr -s '\t' ' ' | paste -sd';' -)
  grep -qE "^Uid:\s+$uid\s+$uid\s+$uid\s+$uid$" <<<"$s" && grep -qE '^CapEff:\s+0+$' <<<"$s" &&
    grep -qE '^NoNewPrivs:\s+1$' <<<"$s" && grep -qE '^Seccomp:\s+2$' <<<"$s"
}
check "sandbox: qln (PID $main_pid) runs as qln, CapEff 0, NoNewPrivs 1, Seccomp 2 (filter)" sandboxed
exposure() {
  local line; line=$(in_ct systemd-analyze security --no-pager "$unit" 2>&1 | grep 'Overall exposure level')
  exposure_figure=$(grep -oE '[0-9]+\.[0-9]+ [A-Z]+' <<<"$line")
  detail=$line
  # systemd's own scale: up to 1.9 is "OK", 2.0 and above "MEDIUM" and worse.
  awk -v e="${exposure_figure%% *}" 'BEGIN { exit !(e != "" && e < 2.0) }'
}
exposure_figure=
check "systemd-analyze security: exposure rated OK" exposure
say "         exposure $exposure_figure"

upgrade() {
  local old_pid; old_pid=$(prop MainPID)
  in_ct apt-get install -y -q /mnt/qln/qln-newer.deb >"$work/apt.log" 2>&1 ||
    { detail=$(tail -2 "$work/apt.log" | paste -sd' ' -); return 1; }
  [ "$(in_ct dpkg-query -W -f='${Version}' qln)" = "$newer" ] || { detail="qln is not at $newer"; return 1; }
  in_ct systemctl is-active --quiet "$unit" || { detail="not active"; return 1; }
  [ "$(prop MainPID)" != "$old_pid" ] || { detail="the old process $old_pid still runs"; return 1; }
  in_ct grep -q '^CommunicationsPort=/dev/ttyUPS0$' /etc/qln/qln.ini || { detail="the INI file's edit is lost"; return 1; }
}
check "upgrade to $newer with the service running: restarted, the edited INI file kept" upgrade
check "after the upgrade: attached and relaying" wait_until 30 relay ident

# --- further UPSes: instances of the template unit, as docs/operating.md
# adds one ("Several UPSes on one host"): the INI file copied with its owner
# and mode, its port and UDP port edited, the instance enabled and started.
start_sim() {  # start_sim N FD: upssim on its pseudo-terminal, linked as /dev/ttyUPSN
  local n=$1 fd=$2
  mkfifo "$work/sim$n.in"
  nsenter -t "$leader" -a -- /usr/bin/upssim --model QlnE2E150$n <"$work/sim$n.in" \
    >"$work/sim$n.out" 2>"$work/sim$n.err" &
  sims+=("$! $fd")
  eval "exec $fd>\"\$work/sim\$n.in\""
  wait_until 10 grep -q . "$work/sim$n.out" || { say "FAILED: upssim $n did not start"; exit 1; }
  local p; p=$(head -1 "$work/sim$n.out")
  in_ct sh -c "chgrp dialout $p && chmod 0660 $p && ln -sfn $p /dev/ttyUPS$n"
}
start_sim 2 5
start_sim 3 6
add_instance() {  # add_instance NAME N UDP-PORT
  local ini=/etc/qln/$1.ini
  in_ct cp -p /etc/qln/qln.ini "$ini" &&
    in_ct sed -i "s|^CommunicationsPort=.*|CommunicationsPort=/dev/ttyUPS$2|" "$ini" &&
    in_ct sh -c "grep -q '^AgentPort=' $ini && sed -i 's|^AgentPort=.*|AgentPort=$3|' $ini ||
      printf '[NetXCP]\nAgentPort=$3\n' >>$ini" &&
    in_ct systemctl enable --now "ombrex-quillon@$1" >"$work/enable.log" 2>&1 ||
    { detail=$(tail -2 "$work/enable.log" | paste -sd' ' -); return 1; }
  [ "$(in_ct systemctl show -p ActiveState,SubState --value "ombrex-quillon@$1" | paste -sd/ -)" = \
    active/running ] || { detail="not active/running"; return 1; }
}
check "template: ombrex-quillon@ups2 enabled and started (READY=1) on /dev/ttyUPS2, UDP 7012" \
  add_instance ups2 2 7012
check "template: ombrex-quillon@ups3 enabled and started (READY=1) on /dev/ttyUPS3, UDP 7013" \
  add_instance ups3 3 7013
relay_on() { in_ct netxcp -h 127.0.0.1 -p "$1" -t 3000 relay ident >>"$work/netxcp.out" 2>&1; }
all_relay() { relay_on 7012 && relay_on 7013 && relay_on 7010; }
check "template: both instances relay (7012, 7013), the default too (7010)" \
  wait_until 30 all_relay
# "qln status" without -c: every agent of the host, one line each.
host_lists() {  # host_lists EXIT WHO...
  local want=$1 text json rc; shift
  text=$(in_ct qln status 2>&1); rc=$?
  json=$(in_ct qln status --json 2>&1)
  detail="exit $rc: $(paste -sd'|' <<<"$text")"
  [ "$rc" = "$want" ] && [ "$(grep -c . <<<"$text")" = $# ] &&
    [ "$(grep -c '"running": true' <<<"$json")" = $# ] || return 1
  for who in "$@"; do grep -q "^$who: attached to the UPS; UPS QlnE2E150" <<<"$text" || return 1; done
}
check "qln status lists the default agent and both instances, attached (exit 0)" \
  wait_until 10 host_lists 0 /etc/qln/qln.ini ups2 ups3
instance_folder() {
  detail=$(in_ct stat -c '%U %a %n' /run/qln-ups2 /run/qln-ups2/qln-7012.status 2>&1 | paste -sd';' -)
  [ "$detail" = "qln 700 /run/qln-ups2;qln 600 /run/qln-ups2/qln-7012.status" ] &&
    in_ct test -p /run/qln-ups2/UPS_Found_ups2 -o -e /run/qln-ups2/qln-7012.status
}
check "template: ups2 keeps its record in its own runtime folder /run/qln-ups2 (qln 0700)" instance_folder
tagged() {
  local text; text=$(in_ct journalctl -t qln@ups2 -b --no-pager -o cat 2>/dev/null)
  detail="journalctl -t qln@ups2: $(tail -1 <<<"$text")"
  grep -qF "The relay started on UDP port 7012" <<<"$text" || return 1
  text=$(in_ct journalctl -t qln -b --no-pager -o cat 2>/dev/null)
  ! grep -qF "UDP port 7012" <<<"$text" || { detail="ups2's report under -t qln"; return 1; }
}
check "template: ups2's reports are in the journal under qln@ups2, not under qln" tagged
instance_sandboxed() {
  main_pid=$(in_ct systemctl show -p MainPID --value ombrex-quillon@ups3)
  sandboxed
}
check "template: ups3 runs in the same sandbox (uid qln, CapEff 0, NoNewPrivs 1, Seccomp 2)" \
  instance_sandboxed
stop_ups2() {
  in_ct systemctl stop ombrex-quillon@ups2 || { detail="systemctl stop failed"; return 1; }
  [ "$(in_ct systemctl show -p Result --value ombrex-quillon@ups2)" = success ] ||
    { detail="Result=$(in_ct systemctl show -p Result --value ombrex-quillon@ups2)"; return 1; }
  in_ct test -e /run/qln-ups2 && { detail="/run/qln-ups2 left"; return 1; }
  relay_on 7013 && relay_on 7010 || { detail="ups3 or the default stopped relaying"; return 1; }
}
check "template: ups2 stopped (exit 0, its folder gone); ups3 and the default relay on" stop_ups2
check "qln status lists the default agent and ups3 only" host_lists 0 /etc/qln/qln.ini ups3
named_status() { in_ct qln status -n "$1" >/dev/null 2>&1; [ $? = "$2" ]; }
named_both() { named_status ups3 0 && named_status ups2 3; }
check "qln status -n ups3: running (exit 0); -n ups2: not running (exit 3)" named_both

stop_t0=$(date +%s.%N)
in_ct systemctl stop "$unit"
stop_s=$(awk -v a="$stop_t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
stopped() {
  detail="ActiveState=$(prop ActiveState) Result=$(prop Result) ExecMainStatus=$(prop ExecMainStatus)"
  [ "$detail" = "ActiveState=inactive Result=success ExecMainStatus=0" ]
}
check "stop: ended on SIGTERM by itself, exit 0, in $stop_s s (no time-out, no SIGKILL)" stopped

in_ct systemctl start "$unit"
purge() {
  in_ct apt-get purge -y -q qln qln-tools >"$work/apt.log" 2>&1 ||
    { detail=$(tail -2 "$work/apt.log" | paste -sd' ' -); return 1; }
  in_ct test -e /lib/systemd/system/$unit && { detail="unit left"; return 1; }
  # The instances' INI files are the administrator's, not the package's: kept.
  [ "$(in_ct sh -c 'ls -A /etc/qln 2>/dev/null' | paste -sd' ' -)" = "ups2.ini ups3.ini" ] ||
    { detail="/etc/qln holds: $(in_ct ls -A /etc/qln 2>&1 | paste -sd' ' -)"; return 1; }
  in_ct sh -c 'grep -qx qln /proc/[0-9]*/comm' && { detail="qln still runs"; return 1; }
  in_ct sh -c 'ls /etc/systemd/system/*.wants/ombrex-quillon@*' >/dev/null 2>&1 &&
    { detail="an instance is still enabled"; return 1; }
  [ "$(prop LoadState)" = not-found ] || { detail="LoadState=$(prop LoadState)"; return 1; }
}
check "purge with the service and the instance ups3 running: both stopped, ups3 disabled, units and programs gone, /etc/qln holds only the instances' INI files" purge

say "$passed ok, $failures FAILED of $((passed + failures)) checks under systemd ($((SECONDS - started)) s)"
[ "$failures" -eq 0 ]
