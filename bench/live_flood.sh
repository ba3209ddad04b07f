#!/usr/bin/env bash
# A live flood on a veth pair between two network namespaces of its own, at
# fixed rates, captured in turn by Quorvel's engine (quorvel-replay --live:
# through the capture helper, as the monitor captures) and by tcpdump
# writing to /dev/null, both with a 2 MiB kernel buffer. Prints one row per
# rate and capture: the frames sent, the packets the capture received and
# those it lost (the capture library's counts), the packets the engine
# counted, and the processor time of the capture's processes per packet
# received (the helper's share apart).
#
#   bench/live_flood.sh [BUILD_FOLDER]          (root; default: build)
#
# RATES (frames a second, 0: as fast as the sender can; default
# "100000 200000 400000 0"), CONNECTIONS (how many connections the flood's
# frames take turns among; default 1; a list such as "1 1000 100000"
# measures each), FLOOD_SECONDS (per run, default 5), and
# OTHER_BUILD (another build folder, whose quorvel-replay is measured beside
# this one under the name "other") change what is measured; PROCESSES=1
# runs the engine once more with --processes (the owners of connections,
# the helper's socket programs attached), under the name "owners". With FILTER (a
# capture filter, such as "udp port 53") the engine runs once more with it,
# under the name "filtered"; KEEP_EVERY=N makes every N-th frame of the
# flood one that "udp port 53" keeps. APPLY_ROUNDS=N measures in N rounds,
# during a flood of APPLY_RATE frames a second (default 100000), how soon
# a filter applied during a capture is in force. IPFIX=1 runs the engine
# once more exporting its flows to nfcapd on the capture side's loopback,
# under the name "ipfix".
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "live_flood.sh: skipped: it needs root (network namespaces and capture)"
  exit 0
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
rates="${RATES:-100000 200000 400000 0}"
connection_counts="${CONNECTIONS:-1}"
connections=1
seconds="${FLOOD_SECONDS:-5}"
buffer=2097152
engine="$build/bin/quorvel-replay"
sender="$build/bin/quorvel_flood_sender"
applier="$build/bin/quorvel_bench_filter_apply"
filter="${FILTER:-}"
keep_every="${KEEP_EVERY:-}"
apply_rounds="${APPLY_ROUNDS:-0}"
for program in "$engine" "$sender" "$applier" ${OTHER_BUILD:+"$OTHER_BUILD/bin/quorvel-replay"}; do
  [ -x "$program" ] || { echo "live_flood.sh: $program is missing; build first (scripts/test builds it)" >&2; exit 1; }
done
if ! command -v tcpdump > /dev/null; then
  echo "live_flood.sh: tcpdump is not installed (apt-get install tcpdump): only Quorvel is measured" >&2
fi

id="$$"
cap="qvflood-cap-$id"
snd="qvflood-snd-$id"
capdev="qvfc$id"
snddev="qvfs$id"
scratch="$(mktemp -d /tmp/quorvel-flood-XXXXXX)"
capture_pid=""
cleanup() {
  if [ -n "$capture_pid" ]; then kill -TERM "$capture_pid" 2>/dev/null || true; wait "$capture_pid" 2>/dev/null || true; fi
  if [ -n "${collector_pid:-}" ]; then kill -TERM "$collector_pid" 2>/dev/null || true; wait "$collector_pid" 2>/dev/null || true; fi
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
if [ -n "$filter" ]; then printf "+%s\r\n" "$filter" > "$scratch/filters.dat"; fi
collector_pid=""
if [ -n "${IPFIX:-}" ]; then
  command -v nfcapd > /dev/null || { echo "live_flood.sh: IPFIX=1 needs nfcapd (apt-get install nfdump)" >&2; exit 1; }
  ip -n "$cap" link set lo up
  mkdir -p "$scratch/flows"
  ip netns exec "$cap" nfcapd -w "$scratch/flows" -b 127.0.0.1 -p 4739 > /dev/null 2>&1 &
  collector_pid=$!
fi

# Processor time (user and system) of processes in milliseconds: the time
# each of their threads ran, in nanoseconds, from /proc (stat's clock ticks
# are too coarse for a few hundred milliseconds).
cpu_ms() {
  local pid
  for pid in "$@"; do cat /proc/"$pid"/task/*/schedstat; done | awk '{ ns += $1 } END { printf "%.3f\n", ns / 1e6 }'
}

# The children of a process, all its threads' together, one a line.
children() {
  cat /proc/"$1"/task/*/children 2>/dev/null | tr -s ' ' '\n' || true
}

# flood RATE: the sender's count after the seconds of flood.
flood() {
  ip netns exec "$snd" "$sender" "$snddev" "$1" "$seconds" "${keep_every:-0}" "$connections"
}

# One run of quorvel-replay --live; prints "sent received dropped counted
# cpu_ms helper_cpu_ms start_cpu_ms helper_start_cpu_ms". The processor time
# is read just before the flood (what the start cost) and once the flood
# has been worked off, while the capture still runs; then SIGINT ends it.
# Further arguments go to quorvel-replay.
run_quorvel() {
  local program="$1" rate="$2" err="$scratch/quorvel.err" sent helper="" cpu helper_cpu start helper_start
  shift 2
  ip netns exec "$cap" "$program" --live "$capdev" --buffer "$buffer" "$@" > /dev/null 2> "$err" &
  capture_pid=$!
  for _ in $(seq 50); do
    helper="$(children "$capture_pid")"
    [ -n "$helper" ] && grep -q '^NoNewPrivs:[[:space:]]*1' "/proc/$helper/status" 2>/dev/null && break
    sleep 0.1
  done
  start="$(cpu_ms "$capture_pid" $helper)"
  helper_start="$(cpu_ms $helper)"
  sent="$(flood "$rate")"
  sleep 2
  cpu="$(cpu_ms "$capture_pid" $helper)"
  helper_cpu="$(cpu_ms $helper)"
  kill -INT "$capture_pid"
  wait "$capture_pid" || true
  capture_pid=""
  tr ' ' '\n' < "$err" | awk -F= -v sent="$sent" -v cpu="$cpu" -v helper="$helper_cpu" -v start="$start" \
      -v helper_start="$helper_start" '
    { value[$1] = $2 }
    END { print sent, value["received"], value["dropped"], value["packets"], cpu, helper, start, helper_start }'
}

run_tcpdump() {
  local rate="$1" err="$scratch/tcpdump.err" sent cpu start
  ip netns exec "$cap" tcpdump -i "$capdev" -B $((buffer / 1024)) -s 262144 -w /dev/null 2> "$err" &
  capture_pid=$!
  sleep 1
  start="$(cpu_ms "$capture_pid")"
  sent="$(flood "$rate")"
  sleep 2
  cpu="$(cpu_ms "$capture_pid")"
  kill -INT "$capture_pid"
  wait "$capture_pid" || true
  capture_pid=""
  awk -v sent="$sent" -v cpu="$cpu" -v start="$start" '
    /packets captured/ { captured = $1 }
    /received by filter/ { received = $1 }
    /dropped by kernel/ { dropped += $1 }
    /dropped by interface/ { dropped += $1 }
    END { print sent, received, dropped, captured, cpu, 0, start, 0 }' "$err"
}

row() {
  local rate="$1" name="$2" sent received dropped counted cpu helper start helper_start
  read -r sent received dropped counted cpu helper start helper_start
  awk -v rate="$rate" -v name="$name" -v sent="$sent" -v got="$received" -v lost="$dropped" -v counted="$counted" \
      -v cpu="$cpu" -v helper="$helper" -v start="$start" -v helper_start="$helper_start" -v s="$seconds" \
      -v conns="$connections" 'BEGIN {
    per = got > 0 ? 1000 / got : 0
    printf "%-8s %7s %-8s %10d %9.0f %10d %8d %10d %9.3f %9.3f %9.3f %9.3f %8.1f\n", (rate == 0 ? "max" : rate), conns,
           name, sent, sent / s, got, lost, counted, cpu * per, helper * per, (cpu - start) * per,
           (helper - helper_start) * per, start }'
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) processors, $seconds s of flood per run"
# us/pkt: processor time per packet received, all the capture's processes
# together, from their start; of which helper: the capture helper's share.
# flood and flood-hlp: the same without what they spent before the flood
# began, which start-ms gives (starting, and a second or so of an idle
# capture). counted: the packets Quorvel's engine counted (for tcpdump: the
# packets it wrote).
printf "%-8s %7s %-8s %10s %9s %10s %8s %10s %9s %9s %9s %9s %8s\n" rate conns capture sent sent/s received dropped \
  counted us/pkt helper flood flood-hlp start-ms
for connections in $connection_counts; do
for rate in $rates; do
  run_quorvel "$engine" "$rate" | row "$rate" quorvel
  if [ -n "$filter" ]; then run_quorvel "$engine" "$rate" --filters "$scratch/filters.dat" | row "$rate" filtered; fi
  if [ -n "${PROCESSES:-}" ]; then run_quorvel "$engine" "$rate" --processes | row "$rate" owners; fi
  if [ -n "${IPFIX:-}" ]; then run_quorvel "$engine" "$rate" --ipfix 127.0.0.1:4739 | row "$rate" ipfix; fi
  if [ -n "${OTHER_BUILD:-}" ]; then run_quorvel "$OTHER_BUILD/bin/quorvel-replay" "$rate" | row "$rate" other; fi
  if command -v tcpdump > /dev/null; then run_tcpdump "$rate" | row "$rate" tcpdump; fi
done
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
