#!/usr/bin/env bash
# The packed demo as its own process in an X server: the window is found by
# its title, shows the figure and the red point, a drag moves the point, and
# Alt+F4 ends the program with status 0, leaving its placement in the
# settings. Run under xvfb-run (no window manager). Every wait is bounded.
#   demo_window.sh PROGRAM WORKDIR [SCREENSHOT]
set -euo pipefail
program=$1 work=$2 shot_out=${3:-}
name=demo_window
source "$(dirname "$0")/x11_session.sh"

start_program "$program" "Tarnivel Demo - Tarnivel Runtime"
# The first paint: wait until the point's colour shows.
wait_for_colour "$work/first.png" "#FF0000" || fail "the red point never showed"
[ -n "$(colour_box "$work/first.png" "#E5E5E5")" ] || fail "no figure background"
[ -n "$(colour_box "$work/first.png" "#0000FF")" ] || fail "no blue curve"
first=$box
read -r w h x y <<< "$box"
cx=$((x + w / 2)) cy=$((y + h / 2))
[ -n "$shot_out" ] && cp "$work/first.png" "$shot_out"

# Drag the point 80 pixels left and 40 down, in steps.
xdotool mousemove --sync "$cx" "$cy" mousedown 1
for step in 1 2 3 4; do
  xdotool mousemove --sync $((cx - 20 * step)) $((cy + 10 * step))
  sleep 0.05
done
xdotool mouseup 1
wait_for_change "$work/second.png" "#FF0000" "$first" ||
  fail "the point did not move (before: $first, after: ${box:-none})"

close_program
ini="$XDG_CONFIG_HOME/Brelvon/Tarnivel Runtime.ini"
grep -q '^WindowLeft=' "$ini" || fail "no placement in $ini"
echo "demo_window: window, figure, drag and exit as expected"
