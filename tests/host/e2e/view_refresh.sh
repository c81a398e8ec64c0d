#!/usr/bin/env bash
# The figure after a resize, in the real window, driven with xdotool: a
# resize while a plot handler works about a second (the status bar shows
# "Running" and repaints the window meanwhile) ends with the line laid out in
# the new size; a figure-only instance whose text begins with `clf` draws in
# its window's frame, at the start, after a resize and after Reset Data; and a
# catch-all key handler receives Tab and Ctrl with a letter as their codes.
# A picture is judged by where the blue line y = 0 must lie: across the plot
# frame, which follows the view's size by the change of the size.
#   view_refresh.sh SLOWPLOT_PROGRAM FIGONLY_PROGRAM WORKDIR
set -euo pipefail
slowplot=$1 figonly=$2 work=$3
name=view_refresh
source "$(dirname "$0")/x11_session.sh"
blue="#0000FF"
grow_w=200 grow_h=100

# Shoots until the blue line ends at x from $1 to $2 and lies at y $3 (within
# 3 pixels), beginning within 20 pixels of x $4; at most 5 s once the handler
# has ended. The last box is left in `box`.
wait_for_line() {
  local least=$1 most=$2 at_y=$3 left=$4 w h x y
  for _ in $(seq 25); do
    shot "$work/line.miff"
    box=$(colour_box "$work/line.miff" "$blue")
    if [ -n "$box" ]; then
      read -r w h x y <<< "$box"
      if [ $((x + w)) -ge "$least" ] && [ $((x + w)) -le "$most" ] && [ "$h" -le 3 ] &&
         [ $((y - at_y)) -ge -3 ] && [ $((y - at_y)) -le 3 ] &&
         [ $((x - left)) -ge -20 ] && [ $((x - left)) -le 20 ]; then
        return 0
      fi
    fi
    sleep 0.2
  done
  return 1
}
# The line's place after the window grew: y = 0 is the middle of the plot
# frame, so the line moves down by half the growth; its right end moves
# right with the frame's right edge, by the growth less the data's inner
# margins (a few hundredths of the frame's width); the left end moves with
# the width of the y tick labels.
wait_for_grown_line() {
  local w h x y
  read -r w h x y <<< "$1"
  wait_for_line $((x + w + grow_w * 94 / 100 - 3)) $((x + w + grow_w + 3)) $((y + grow_h / 2)) "$x" ||
    fail "after the $2 the line is at '${box:-nowhere}' (W H X Y), it was at '$1'"
}
grow() {
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  xdotool windowsize "$wid" $((WIDTH + grow_w)) $((HEIGHT + grow_h))
}

# A resize while the plot handler works.
start_program "$slowplot" "Slow Plot - Tarnivel Runtime"
wait_lines plotted 0 || fail "the first plot never ended"
wait_for_colour "$work/s0.miff" "$blue" || fail "the line never showed"
sleep 1
wait_for_colour "$work/s0.miff" "$blue" || fail "the line went away"
plots=$(lines plotted)
first=$box
grow
wait_lines plotted "$plots" || fail "no plot after the resize"
wait_for_grown_line "$first" resize

# Keys: Tab, Shift+Tab and Ctrl with letters, around a letter and Escape.
focus
xdotool key a Tab shift+Tab ctrl+q ctrl+b ctrl+n Escape
codes="97 9 9 17 2 14 27"
wait_lines key 6 || true
got=$(grep '^key' "$work/stderr" | cut -d' ' -f2 | tr '\n' ' ' | sed 's/ $//')
[ "$got" = "$codes" ] || fail "the key handler had '$got', not '$codes'"
close_program

# The figure-only instance: its frame at the start, after a resize, after
# Reset Data. The line ends before the window's right edge and lies in the
# middle of the view; subplotpos (in grid steps from the figure frame's top
# left) gives the cell, the whole frame: its right edge is the view's width,
# and it grows by the window's growth.
start_program "$figonly" "Figure Only - Tarnivel Runtime"
wait_lines pos 0 || fail "the figure text never ran"
wait_for_colour "$work/f0.miff" "$blue" || fail "the line never showed"
sleep 1
wait_for_colour "$work/f0.miff" "$blue" || fail "the line went away"
read -r w0 h0 x0 y0 <<< "$box"
eval "$(xdotool getwindowgeometry --shell "$wid")"
[ $((x0 + w0)) -le $((WIDTH - 8)) ] || fail "the line reaches the window's edge: $box"
[ $((y0 - HEIGHT / 2)) -ge -40 ] && [ $((y0 - HEIGHT / 2)) -le 40 ] ||
  fail "the line is at y $y0, not near the middle of a window $HEIGHT high"
width=$WIDTH
pos1=$(grep '^pos' "$work/stderr" | tail -n 1)
positions=$(lines pos)
first=$box
grow
wait_lines pos "$positions" || fail "the figure text did not run after the resize"
wait_for_grown_line "$first" resize
resized=$box
pos2=$(grep '^pos' "$work/stderr" | tail -n 1)
echo "$pos1 $pos2" | awk -v width="$width" -v gw="$grow_w" -v gh="$grow_h" '{
  step = gw / ($8 - $3)  # pixels per grid step
  ok = $2 == 0 && $4 == 0 && $7 == 0 && $9 == 0 && ($3 * step - width) ^ 2 < 1 && (($10 - $5) * step - gh) ^ 2 < 1
  exit !ok }' || fail "subplotpos gave '$pos1' in a window $width wide, then '$pos2' after a growth of $grow_w x $grow_h"
positions=$(lines pos)
focus; xdotool key alt+f; sleep 0.3; xdotool key r
wait_lines pos "$positions" || fail "the figure text did not run after Reset Data"
read -r w h x y <<< "$resized"
wait_for_line $((x + w)) $((x + w)) "$y" "$x" || fail "after Reset Data the line is at '${box:-nowhere}', not '$resized'"
pos3=$(grep '^pos' "$work/stderr" | tail -n 1)
[ "$pos3" = "$pos2" ] || fail "after Reset Data subplotpos gave '$pos3', after the resize '$pos2'"
close_program
echo "$name: line laid out after each resize and reset; keys $got"
