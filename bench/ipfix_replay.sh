#!/usr/bin/env bash
# The cost of the IPFIX export in a replay of a million connections: the
# same file replayed in turn without and with --ipfix to nfcapd on
# loopback, ROUNDS times (default 3). Prints one row a run: the engine's
# packets a second, the whole run's wall time (the records of all the
# connections, sent at the end, included) and processor time, and the
# records the collector was sent.
#
#   bench/ipfix_replay.sh [BUILD_FOLDER]
#
# The file is the replay benchmark's (quorvel_bench_replay makes it:
# /tmp/quorvel-bench-replay/uniform-1000000.pcap, 4M packets).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
file="${REPLAY_FILE:-/tmp/quorvel-bench-replay/uniform-1000000.pcap}"
rounds="${ROUNDS:-3}"
[ -f "$file" ] || { echo "ipfix_replay.sh: $file is missing: run $build/bin/quorvel_bench_replay once" >&2; exit 1; }
command -v nfcapd > /dev/null || { echo "ipfix_replay.sh: nfcapd is missing (apt-get install nfdump)" >&2; exit 1; }
scratch="$(mktemp -d /tmp/quorvel-ipfix-bench-XXXXXX)"
collector=""
cleanup() {
  if [ -n "$collector" ]; then kill "$collector" 2>/dev/null || true; wait "$collector" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
port=$((20000 + $$ % 20000))
mkdir "$scratch/flows"
nfcapd -w "$scratch/flows" -p "$port" -b 127.0.0.1 > "$scratch/nfcapd.log" 2>&1 &
collector=$!
sleep 1

run() {
  local name="$1"
  shift
  /usr/bin/time -f "%e %U %S" -o "$scratch/time" "$build/bin/quorvel-replay" "$@" "$file" > /dev/null 2> "$scratch/err"
  read -r wall user sys < "$scratch/time"
  tr ' ' '\n' < "$scratch/err" | awk -F= -v name="$name" -v wall="$wall" -v cpu="$(echo "$user + $sys" | bc)" '
    { value[$1] = $2 }
    END { printf "%-8s %12d %10.0f %8.2f %8.2f %12s\n", name, value["connections"], value["pps"], wall, cpu,
          value["ipfix_records"] == "" ? "-" : value["ipfix_records"] }'
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) processors"
printf "%-8s %12s %10s %8s %8s %12s\n" run connections pps wall_s cpu_s records
for _ in $(seq "$rounds"); do
  run plain
  run ipfix --ipfix "127.0.0.1:$port"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
