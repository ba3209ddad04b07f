#!/usr/bin/env bash
# Takes docs/settings-dialog.png and docs/about-box.png (docs/dialog-
# screenshots.sh zh, the default), or docs/settings-dialog.en.png and
# docs/about-box.en.png (docs/dialog-screenshots.sh en): the monitor in that
# language on a virtual X display with a window manager, each dialog opened
# as a user opens it (the toolbar's 设置 button, 关于 in the 帮助 menu).
# Nothing is captured, so it needs no root beyond installing what is missing.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"

# In the default layout the 帮助 (Help) menu's title sits this far from the
# window's client origin, at a height of 10.
language="${1:-zh}"
case "$language" in
  zh) suffix="" help_menu_x=148 ;;
  en) suffix=".en" help_menu_x=174 ;;
  *) echo "usage: $0 [zh|en]" >&2; exit 2 ;;
esac

install_missing_packages "${QUORVEL_PACKAGES[@]}" xvfb xauth openbox imagemagick x11-utils xdotool
configure_and_build

display=":58"
work="$(mktemp -d)"
cleanup() {
  local pid
  for pid in ${monitor_pid:-} ${wm_pid:-} ${xvfb_pid:-}; do
    kill "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1100x700x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
sleep 1
DISPLAY="$display" openbox >"$work/openbox.log" 2>&1 &
wm_pid=$!
sleep 1

# A copy of the program in a folder of its own, with settings that show a
# packet log, so that the shots leave the build's settings alone. The copy
# is killed at the end, and a killed monitor writes no settings.
cp "$QUORVEL_BUILD/bin/quorvel" "$work/"
cp -r "$QUORVEL_BUILD/bin/help" "$QUORVEL_BUILD/bin/services" "$work/"
printf '[main]\nunits=3\nidleseconds=30\n[log]\nuselogfile=1\nlogtype=7\nmbdelete=10\nlogfile=/home/user/quorvel-traffic.log\n' \
  >"$work/quorvel.dat"
DISPLAY="$display" "$work/quorvel" --lang "$language" >"$work/quorvel.log" 2>&1 &
monitor_pid=$!

x() { DISPLAY="$display" xdotool "$@"; }
# The id of the first window whose name matches, once it shows.
window_named() {
  local id=""
  for _ in $(seq 50); do
    id="$(x search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)"
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || { echo "no window named $1" >&2; cat "$work/quorvel.log" >&2; exit 1; }
  echo "$id"
}
shoot() {
  sleep 1
  DISPLAY="$display" import -silent "$@"
}

window="$(window_named '^Quorvel 3\.0')"
sleep 1
x windowactivate --sync "$window"

# In the default layout the toolbar's 设置 button sits 717,37 from the
# window's client origin.
x mousemove --window "$window" 717 37 click 1
settings="$(window_named '^Quorvel - ')"
x mousemove --window "$window" 5 200
shoot -frame -window "$settings" "$QUORVEL_ROOT/docs/settings-dialog$suffix.png"
echo "wrote $QUORVEL_ROOT/docs/settings-dialog$suffix.png"
x key --window "$settings" Escape
sleep 0.5

x mousemove --window "$window" "$help_menu_x" 10 click 1
sleep 0.5
x key Down Down Return
about="$(window_named '^Quorvel$')"
shoot -window "$about" "$QUORVEL_ROOT/docs/about-box$suffix.png"
echo "wrote $QUORVEL_ROOT/docs/about-box$suffix.png"
