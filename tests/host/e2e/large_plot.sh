#!/usr/bin/env bash
# A curve of 1,000,000 points in the real program: its list outgrows the
# plot store, the block grows until it fits and the figure shows the whole
# curve (blue across the frame's width and between -1 and 1). The Drag tool
# then pans it: a drag to the left moves the curve left with the pointer,
# and the program closes cleanly.
#   large_plot.sh PROGRAM WORKDIR
set -euo pipefail
program=$1 work=$2
name=large_plot
source "$(dirname "$0")/x11_session.sh"
blue="#0000FF"

start_program "$program" "Large Plot - Tarnivel Runtime"
wait_for_colour "$work/first.png" "$blue" || { cat "$work/stderr" >&2; fail "the curve never showed"; }
read -r w h x y <<< "$box"
# The figure fills the window's width less its axes; the curve runs across it
# and between its peaks and troughs.
read -r win_w win_h <<< "$(xdotool getwindowgeometry --shell "$wid" | sed -n 's/^WIDTH=//p; s/^HEIGHT=//p' | tr '\n' ' ')"
[ "$w" -gt $((win_w * 3 / 4)) ] || fail "the curve is $w pixels wide in a window of $win_w"
[ "$h" -gt $((win_h / 2)) ] || fail "the curve is $h pixels high in a window of $win_h"
grep -q "TN memory expanded to" "$work/stderr" || fail "the block never grew: the test no longer tests growth"

# Drag tool (Ctrl+4): press in the middle of the curve, four moves of 40
# pixels to the left, release. The curve's start leaves the frame.
timeout 10 xdotool windowfocus --sync "$wid" || true
xdotool key ctrl+4
sleep 0.2
cx=$((x + w / 2)) cy=$((y + h / 2))
xdotool mousemove --sync "$cx" "$cy" mousedown 1
for step in 1 2 3 4; do xdotool mousemove --sync $((cx - 40 * step)) "$cy"; sleep 0.1; done
xdotool mouseup 1
wait_for_change "$work/dragged.png" "$blue" "$box" || fail "the drag did not move the curve"
read -r w2 h2 x2 y2 <<< "$box"
[ "$x2" -le "$x" ] || fail "the curve moved right ($x to $x2) under a drag to the left"
close_program
echo "large_plot: 1,000,000 points drawn ($w x $h pixels) and dragged"
