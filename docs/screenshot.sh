#!/usr/bin/env bash
# Takes docs/main-window.png: the monitor on a virtual X display with a
# window manager, as a user sees it right after start-up.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"

install_missing_packages "${QUORVEL_PACKAGES[@]}" xvfb xauth openbox imagemagick x11-utils
configure_and_build

display=":57"
work="$(mktemp -d)"
cleanup() {
  local pid
  for pid in ${monitor_pid:-} ${wm_pid:-} ${xvfb_pid:-}; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1100x700x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
sleep 1
DISPLAY="$display" openbox >"$work/openbox.log" 2>&1 &
wm_pid=$!
sleep 1

# A copy of the program in a folder of its own, so that the shot starts
# from the default settings and leaves the build's settings alone. The
# copy is killed at the end, and a killed monitor writes no settings.
cp "$QUORVEL_BUILD/bin/quorvel" "$work/"
cp -r "$QUORVEL_BUILD/bin/help" "$QUORVEL_BUILD/bin/services" "$work/"
DISPLAY="$display" "$work/quorvel" >"$work/quorvel.log" 2>&1 &
monitor_pid=$!

window=""
for _ in $(seq 50); do
  window="$(DISPLAY="$display" xwininfo -root -tree 2>/dev/null | awk '/"Quorvel 3.0/ {print $1; exit}')"
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "the window did not appear" >&2; cat "$work/quorvel.log" >&2; exit 1; }
sleep 1.5
DISPLAY="$display" import -silent -frame -window "$window" "$QUORVEL_ROOT/docs/main-window.png"
echo "wrote $QUORVEL_ROOT/docs/main-window.png"
