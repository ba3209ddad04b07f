#!/usr/bin/env bash
# A live flood on a veth pair between two network namespaces of its own, at
# rising rates, captured in turn by Quorvel's engine (through the capture
# helper, as the monitor captures) and by tcpdump writing to /dev/null, with
# the same kernel buffer (2 MiB). Prints one row per rate and capture: the
# frames sent and captured, and the processor time per frame sent.
#
#   bench/live_flood.sh [BUILD_FOLDER]          (root; default: build)
#
# RATES (frames a second, 0: as fast as the sender can; default
# "100000 200000 400000 0"), FLOOD_SECONDS (per run, default 5), and
# OTHER_ENGINE (a quorvel_bench_live of another build, measured beside this
# one under the name "other") change what is measured. With FILTER (a
# capture filter, such as "udp port 53") the engine runs once more with it,
# under the name "filtered"; KEEP_EVERY=N makes every N-th frame of the
# flood one that "udp port 53" keeps. APPLY_ROUNDS=N measures in N rounds,
# during a flood of APPLY_RATE frames a second (default 100000), how soon
# a filter applied during a capture is in force.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "live_flood.sh: skipped: it needs root (network namespaces and capture)"
  exit 0
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
rates="${RATES:-100000 200000 400000 0}"
seconds="${FLOOD_SECONDS:-5}"
engine="$build/bin/quorvel_bench_live"
sender="$build/bin/quorvel_flood_sender"
applier="$build/bin/quorvel_bench_filter_apply"
filter="${FILTER:-}"
keep_every="${KEEP_EVERY:-}"
apply_rounds="${APPLY_ROUNDS:-0}"
for program in "$engine" "$sender" "$applier"; do
  [ -x "$program" ] || { echo "live_flood.sh: $program is missing; build first (scripts/test builds it)" >&2; exit 1; }
done

id="$$"
cap="qvflood-cap-$id"
snd="qvflood-snd-$id"
capdev="qvfc$id"
snddev="qvfs$id"
scratch="$(mktemp -d /tmp/quorvel-flood-XXXXXX)"
cleanup() {
  ip netns delete "$cap" 2>/dev/null || true
  ip netns delete "$snd" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$cap"
ip netns add "$snd"
ip link add "$capdev" netns "$cap" type veth peer name "$snddev" netns "$snd"
for ns in "$cap" "$snd"; do ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1; done
ip -n "$cap" link set "$capdev" multicast off up
ip -n "$snd" link set "$snddev" multicast off up
ip -n "$cap" addr add 10.231.250.1/24 dev "$capdev"
ip -n "$snd" addr add 10.231.250.2/24 dev "$snddev"

ticks_per_second="$(getconf CLK_TCK)"
# Processor time of a running process in milliseconds, from /proc.
cpu_ms() {
  awk -v hz="$ticks_per_second" '{ print ($14 + $15) * 1000 / hz }' "/proc/$1/stat"
}

# flood RATE: the sender's count after the seconds of flood.
flood() {
  ip netns exec "$snd" "$sender" "$snddev" "$1" "$seconds" ${keep_every:+"$keep_every"}
}

# One run of a Quorvel engine, with the capture filter given if any;
# prints "sent captured cpu_ms".
run_engine() {
  local program="$1" rate="$2" out="$scratch/engine.out" sent
  shift 2
  ip netns exec "$cap" "$program" "$capdev" "$((seconds + 3))" "$@" > "$out" &
  local pid=$!
  sleep 1
  sent="$(flood "$rate")"
  wait "$pid"
  awk -v sent="$sent" '{
    split($1, c, "="); split($2, own, "="); split($3, helper, "=");
    print sent, c[2], own[2] + helper[2], helper[2] }' "$out"
}

run_tcpdump() {
  local rate="$1" err="$scratch/tcpdump.err" sent cpu
  ip netns exec "$cap" tcpdump -i "$capdev" -B 2048 -s 262144 -w /dev/null 2> "$err" &
  local pid=$!
  sleep 1
  sent="$(flood "$rate")"
  sleep 2
  cpu="$(cpu_ms "$pid")"
  kill -INT "$pid"
  wait "$pid" || true
  awk -v sent="$sent" -v cpu="$cpu" '/packets captured/ { print sent, $1, cpu, 0 }' "$err"
}

row() {
  local rate="$1" name="$2" sent captured cpu helper
  read -r sent captured cpu helper
  awk -v rate="$rate" -v name="$name" -v sent="$sent" -v got="$captured" -v cpu="$cpu" -v helper="$helper" \
      -v s="$seconds" 'BEGIN {
    printf "%-8s %-8s %10d %10.0f %10d %9d %9.3f %9.3f\n", (rate == 0 ? "max" : rate), name, sent, sent / s, got,
           sent - got, (sent > 0 ? cpu * 1000 / sent : 0), (sent > 0 ? helper * 1000 / sent : 0) }'
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) processors, $seconds s of flood per run"
# us/frame: processor time per frame sent, all the capture's processes
# together; of which helper: the capture helper's share.
printf "%-8s %-8s %10s %10s %10s %9s %9s %9s\n" rate capture sent sent/s captured lost us/frame helper
for rate in $rates; do
  run_engine "$engine" "$rate" | row "$rate" quorvel
  if [ -n "$filter" ]; then run_engine "$engine" "$rate" "$filter" | row "$rate" filtered; fi
  if [ -n "${OTHER_ENGINE:-}" ]; then run_engine "$OTHER_ENGINE" "$rate" | row "$rate" other; fi
  if command -v tcpdump > /dev/null; then run_tcpdump "$rate" | row "$rate" tcpdump; fi
done
# A flood of frames that "udp port 53" drops, as long as the rounds may
# take, while filters are applied.
if [ "$apply_rounds" -gt 0 ]; then
  ip netns exec "$snd" "$sender" "$snddev" "${APPLY_RATE:-100000}" "$((apply_rounds * 2 + 3))" > /dev/null &
  flood_pid=$!
  sleep 0.3
  ip netns exec "$cap" "$applier" "$capdev" "$apply_rounds"
  wait "$flood_pid"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
