#!/usr/bin/env bash
# Frames as the window keeps them, in an X server with xdotool:
# - a declared free layout with uneven springs: six copies (Ctrl+C) and a
#   Print Preview leave the figure as it was, pixel for pixel;
# - a drag of its red point held while the window is resized ends with the
#   point beside the pointer as a drag without a resize leaves it;
# - a figure-only text that lays out two cells with subplot and reads
#   subplotpos in the same run gets one cell at start, after Reset Data and
#   after a resize and back to the start's size.
#   frames.sh SPRINGS FIGCELLS WORKDIR
set -euo pipefail
springs=$1 figcells=$2 work=$3
name=frames
source "$(dirname "$0")/x11_session.sh"
background="#E5E5E5"
source "$(dirname "$0")/figure_shots.sh"
red="#FF0000" blue="#0000FF"

size() { xdotool getwindowgeometry --shell "$wid" | sed -n 's/^WIDTH=//p; s/^HEIGHT=//p' | tr '\n' ' '; }
# The centre "X Y" of the red point once two shots in a row agree on it.
red_centre() {
  local w h x y now last=""
  for _ in $(seq 30); do
    shot "$work/red.miff"
    read -r w h x y <<< "$(colour_box "$work/red.miff" "$red")"
    now="$((x + ${w:-0} / 2)) $((y + ${h:-0} / 2))"
    [ -n "${w:-}" ] && [ "$now" = "$last" ] && { echo "$now"; return 0; }
    last=$now
    sleep 0.2
  done
  fail "the red point did not settle"
}
# Drags the red point by ($1, $2); while the button is held the window grows
# by $3 x $4. The point's offset from where the pointer stopped is left in
# `off` as "DX DY".
drag_point() {
  local px py tx ty ww wh cx cy
  read -r px py <<< "$(red_centre)"
  tx=$((px + $1)) ty=$((py + $2))
  # Without --sync, which waits for a move: the pointer may be there already.
  xdotool mousemove "$px" "$py"
  sleep 0.1
  xdotool mousedown 1
  sleep 0.2
  read -r ww wh <<< "$(size)"
  xdotool windowsize "$wid" $((ww + $3)) $((wh + $4))
  sleep 0.5
  xdotool mousemove --sync "$tx" "$ty"
  sleep 0.2
  xdotool mouseup 1
  sleep 0.3
  read -r cx cy <<< "$(red_centre)"
  off="$((cx - tx)) $((cy - ty))"
}

# ---- Copies and Print Preview of a free layout with uneven springs ---------
start_program "$springs" "Springs - Tarnivel Runtime"
wait_for_colour "$work/s0.miff" "$red" || fail "the red point never showed"
wait_for_colour "$work/s0.miff" "$blue" || fail "the blue line never showed"
sleep 0.5  # the window may still be placed after its first picture
shot "$work/s0.miff"
figure_area "$work/s0.miff"
settle "$work/s0.miff"
focus
for _ in $(seq 6); do
  xdotool key ctrl+c
  sleep 0.2
done
# The File menu opens once the copies before it are done: it shows, goes,
# and the figure is judged after that.
xdotool key alt+f
wait_for_other "$work/menu.miff" "$work/s0.miff" || fail "the File menu did not open after the copies"
xdotool key Escape
wait_for_same "$work/s1.miff" "$work/s0.miff" || fail "six copies moved the figure: $differ pixels differ"
focus
xdotool key alt+f
sleep 0.3
xdotool key v
preview=$(timeout 30 xdotool search --sync --onlyvisible --name "Print Preview" | head -n 1) ||
  fail "Print Preview did not open"
sleep 1
timeout 10 xdotool windowfocus --sync "$preview" || true
xdotool key Escape
for _ in $(seq 50); do
  xdotool search --onlyvisible --name "Print Preview" > /dev/null || break
  sleep 0.2
done
wait_for_same "$work/s2.miff" "$work/s0.miff" || fail "Print Preview moved the figure: $differ pixels differ"

# ---- A drag held across a resize --------------------------------------------
drag_point -30 20 0 0
beside=$off
drag_point -30 20 160 120
read -r bx by <<< "$beside"
read -r dx dy <<< "$off"
[ $((dx - bx)) -ge -2 ] && [ $((dx - bx)) -le 2 ] && [ $((dy - by)) -ge -2 ] && [ $((dy - by)) -le 2 ] ||
  fail "after a drag held across a resize the point lies ($off) from the pointer, after one without ($beside)"
close_program

# ---- subplotpos after subplot in a figure-only text -------------------------
start_program "$figcells" "Figure Cells - Tarnivel Runtime"
wait_lines pos 0 || fail "the figure text never ran"
wait_for_colour "$work/c0.miff" "$blue" || fail "the line never showed"
sleep 1
at_start=$(grep '^pos' "$work/stderr" | tail -n 1)
read -r ww wh <<< "$(size)"
positions=$(lines pos)
focus
xdotool key alt+f
sleep 0.3
xdotool key r
wait_lines pos "$positions" || fail "the figure text did not run after Reset Data"
sleep 0.5
after_reset=$(grep '^pos' "$work/stderr" | tail -n 1)
positions=$(lines pos)
xdotool windowsize "$wid" $((ww + 40)) $((wh + 30))
wait_lines pos "$positions" || fail "the figure text did not run after a resize"
positions=$(lines pos)
xdotool windowsize "$wid" "$ww" "$wh"
wait_lines pos "$positions" || fail "the figure text did not run after the resize back"
sleep 0.5
resized_back=$(grep '^pos' "$work/stderr" | tail -n 1)
[ "$at_start" = "$resized_back" ] && [ "$after_reset" = "$resized_back" ] ||
  fail "subplotpos gave '$at_start' at start, '$after_reset' after Reset Data, '$resized_back' in that size again"
close_program
echo "$name: six copies and a Print Preview left the springs' layout; a drag across a resize ended beside the pointer ($off); subplotpos gave '$at_start' throughout"
