#!/usr/bin/env bash
# Takes docs/main-window.png (docs/screenshot.sh zh, the default) or
# docs/main-window.en.png (docs/screenshot.sh en): the monitor in that
# language on a virtual X display with a window manager, monitoring a veth
# adapter while traffic flows on it, the list sorted by traffic and one row
# selected.
#
# The adapter and its traffic live in two network namespaces the script
# makes and removes again, so nothing reaches any other network. Making
# them needs root.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"

language="${1:-zh}"
case "$language" in
  zh) shot="$QUORVEL_ROOT/docs/main-window.png" ;;
  en) shot="$QUORVEL_ROOT/docs/main-window.en.png" ;;
  *) echo "usage: $0 [zh|en]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -ne 0 ]; then
  echo "run as root: the demo traffic flows between two network namespaces the script makes" >&2
  exit 1
fi
install_missing_packages "${QUORVEL_PACKAGES[@]}" xvfb xauth openbox imagemagick x11-utils xdotool python3
configure_and_build

display=":57"
work="$(mktemp -d)"
capture="qvshot-cap-$$"
sender="qvshot-snd-$$"
cleanup() {
  local pid
  for pid in ${traffic_pid:-} ${monitor_pid:-} ${server_pid:-} ${wm_pid:-} ${xvfb_pid:-}; do
    kill "$pid" 2>/dev/null || true
  done
  ip netns delete "$capture" 2>/dev/null || true
  ip netns delete "$sender" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The monitor's side has 10.77.0.1, the traffic comes from 10.77.0.2.
ip netns add "$capture"
ip netns add "$sender"
ip link add qvshotc netns "$capture" type veth peer name qvshots netns "$sender"
for ns in "$capture" "$sender"; do
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
  ip -n "$ns" link set lo up
done
ip -n "$capture" link set qvshotc up
ip -n "$sender" link set qvshots up
ip -n "$capture" addr add 10.77.0.1/24 dev qvshotc
ip -n "$sender" addr add 10.77.0.2/24 dev qvshots

mkdir "$work/www"
head -c 60000 /dev/urandom >"$work/www/data.bin"
ip netns exec "$capture" python3 -m http.server 8080 --bind 10.77.0.1 --directory "$work/www" \
  >"$work/http.log" 2>&1 &
server_pid=$!

Xvfb "$display" -screen 0 1100x700x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
sleep 1
DISPLAY="$display" openbox >"$work/openbox.log" 2>&1 &
wm_pid=$!
sleep 1

# A copy of the program (with the capture helper it runs from beside
# itself) in a folder of its own, so that the shot starts from the default
# settings (but for a short idle time, so that rows are seen to leave) and
# leaves the build's settings alone. The copy is killed at the end, and a
# killed monitor writes no settings.
cp "$QUORVEL_BUILD/bin/quorvel" "$QUORVEL_BUILD/bin/quorvel-capture" "$work/"
cp -r "$QUORVEL_BUILD/bin/help" "$QUORVEL_BUILD/bin/services" "$work/"
printf '[main]\nidleseconds=5\n' >"$work/quorvel.dat"
ip netns exec "$capture" env DISPLAY="$display" "$work/quorvel" --lang "$language" >"$work/quorvel.log" 2>&1 &
monitor_pid=$!

window=""
for _ in $(seq 50); do
  window="$(DISPLAY="$display" xwininfo -root -tree 2>/dev/null | awk '/"Quorvel 3.0/ && !found {print $1; found = 1}')"
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "the window did not appear" >&2; cat "$work/quorvel.log" >&2; exit 1; }
sleep 1
x() { DISPLAY="$display" xdotool "$@"; }
x windowactivate --sync "$window"
x key --window "$window" ctrl+s
ip netns exec "$sender" python3 "$QUORVEL_ROOT/docs/demo_traffic.py" 10.77.0.1 30 >"$work/traffic.log" 2>&1 &
traffic_pid=$!
# Long enough for the flow that stops early to have left the list.
sleep 10

# In the default layout the header of 流量 (Traffic) sits 500,69 from the window's
# client origin and the first row 17 pixels below it: sort by traffic,
# largest first, and select the first row, a flow that goes on.
x mousemove --window "$window" 500 69 click 1
sleep 0.5
x click 1
x mousemove --window "$window" 60 86 click 1
x mousemove --window "$window" 700 480
sleep 2.5
DISPLAY="$display" import -silent -frame -window "$window" "$shot"
echo "wrote $shot"
