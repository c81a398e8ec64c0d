#!/usr/bin/env bash
# What only the real window shows, driven as a user drives it, in an X
# server with xdotool: keys reach a text field (typing, Backspace, Return, a
# click elsewhere commits and redraws), Delete outside a field takes the
# figure off its subplot, the zoom band is on the screen while the button is
# held, a handler that loops for ever is stopped by the Pause key and the
# next menu command works (and again after a handler's dbhalt), and the
# demo's subplot moved across a 2 x 2 grid leaves no phantom subplots, Undo
# giving the figure back pixel for pixel.
#   window_faults.sh FAULTS_PROGRAM DEMO_PROGRAM WORKDIR
set -euo pipefail
faults=$1 demo=$2 work=$3
name=window_faults
source "$(dirname "$0")/x11_session.sh"
red="#FF0000" green="#009900" field="#FF00FF"
centre() { local w h x y; read -r w h x y <<< "$1"; echo "$((x + w / 2)) $((y + h / 2))"; }
# The x of a box's centre.
centre_x() { local w h x y; read -r w h x y <<< "$1"; echo $((x + w / 2)); }
# Waits up to 10 s for the program's standard error to hold the text $1.
wait_for_stderr() {
  for _ in $(seq 50); do
    grep -qF "$1" "$work/stderr" && return 0
    sleep 0.2
  done
  return 1
}

start_program "$faults" "Window Faults - Tarnivel Runtime"
wait_for_colour "$work/start.png" "$red" || fail "the red point never showed"
point=$box
field_box=$(colour_box "$work/start.png" "$field")
[ -n "$field_box" ] || fail "no text field"
read -r fx fy <<< "$(centre "$field_box")"

# Typing replaces the field's text, Return commits it: the point goes to 7.
xdotool mousemove --sync "$fx" "$fy" click 1
sleep 0.2
xdotool type 7
xdotool key Return
wait_for_change "$work/typed.png" "$red" "$point" || fail "Return did not commit the field (point at ${box:-none})"
at7=$box
[ "$(centre_x "$at7")" -gt "$(centre_x "$point")" ] || fail "the point did not move right: $point -> $at7"

# Backspace edits ("45" becomes "4"); a click elsewhere commits and redraws.
xdotool mousemove --sync "$fx" "$fy" click 1
sleep 0.2
xdotool type 45
xdotool key BackSpace
read -r px py <<< "$(centre "$point")"
xdotool mousemove --sync "$px" $((py + 60)) click 1
wait_for_change "$work/clicked.png" "$red" "$at7" || fail "a click elsewhere did not redraw the committed value"
at4=$box
[ "$(centre_x "$at4")" -gt "$(centre_x "$point")" ] && [ "$(centre_x "$at4")" -lt "$(centre_x "$at7")" ] ||
  fail "Backspace did not edit the field: points $point, $at7, $at4"

# Delete outside a field: the subplot shows no figure; '+' brings it back.
focus
xdotool key Delete
wait_for_change "$work/deleted.png" "$red" "" gone || fail "Delete did not take the figure off its subplot"
xdotool key plus
wait_for_colour "$work/back.png" "$red" || fail "'+' did not bring the figure back"

# A handler that never ends: Pause stops it, its error is shown, and the
# next menu command works.
green_before=$(colour_box "$work/back.png" "$green")
focus
xdotool key alt+t
sleep 0.3
xdotool key s
sleep 1
kill -0 "$pid" 2>/dev/null || fail "the program ended while the handler ran"
xdotool key Pause
wait_for_stderr "Execution halted" || fail "Pause did not stop the handler"
# The error's message box, closed as a user closes it.
sleep 0.5
shot "$work/halted.png"
xdotool key Return
sleep 0.3
focus
xdotool key alt+t
sleep 0.3
xdotool key c
wait_for_change "$work/counted.png" "$green" "$green_before" ||
  fail "the menu command after the break did not work"
# A handler that enters the debugger: its refusal goes to standard error,
# its message box is closed, and the next menu command works.
counted=$box
focus
xdotool key alt+t
sleep 0.3
xdotool key h
wait_for_stderr "Cannot step in TN handlers." || fail "dbhalt in a handler was not refused"
sleep 0.5
xdotool key Return
sleep 0.3
focus
xdotool key alt+t
sleep 0.3
xdotool key c
wait_for_change "$work/counted2.png" "$green" "$counted" || fail "the menu command after dbhalt did not work"
# The zoom band shows while the button is held.
xdotool key ctrl+2
sleep 0.3
read -r gx gy <<< "$(centre "$box")"
x0=$((gx + 20)) y0=$((gy - 150))
shot "$work/band0.png"
xdotool mousemove --sync "$x0" "$y0" mousedown 1
for step in 1 2 3 4; do
  xdotool mousemove --sync $((x0 + 40 * step)) $((y0 + 25 * step))
  sleep 0.08
done
sleep 0.5
shot "$work/band1.png"
xdotool mouseup 1
changed=$(compare -metric AE -crop 170x110+$((x0 - 3))+$((y0 - 3)) "$work/band0.png" "$work/band1.png" null: 2>&1 || true)
[ "${changed%% *}" -gt 100 ] || fail "no zoom band on the screen while the button was held ($changed pixels changed)"

close_program

# The demo's subplot moved with the Select tool from the top-left cell, by
# way of the bottom-left one, to the bottom-right one.
start_program "$demo" "Tarnivel Demo - Tarnivel Runtime"
wait_for_colour "$work/demo.png" "$red" || fail "the demo's point never showed"
focus
xdotool key alt+l
sleep 0.3
xdotool key Down Down Down Return
sleep 0.3
xdotool key ctrl+5
wait_for_colour "$work/grid.png" "#0000FF" || fail "no curve after the 2 x 2 layout"
read -r cx cy <<< "$(centre "$box")"
read -r _ _ gx0 gy0 <<< "$box"
xdotool mousemove --sync "$cx" "$cy" click 1
sleep 0.5
shot "$work/selected.png"
xdotool mousemove --sync "$cx" "$cy" mousedown 1
for step in 1 2 3 4 5 6 7 8; do
  if [ "$step" -le 4 ]; then xdotool mousemove --sync "$cx" $((cy + 70 * step))
  else xdotool mousemove --sync $((cx + 95 * (step - 4))) $((cy + 280)); fi
  sleep 0.08
done
xdotool mouseup 1
sleep 0.5
shot "$work/moved.png"
# Only the curve's cell is drawn: left of it and above it no axes' white.
curve=$(colour_box "$work/moved.png" "#0000FF")
read -r bw bh bx by <<< "$curve"
[ "$bx" -gt "$cx" ] && [ "$by" -gt "$cy" ] || fail "the curve did not move to the bottom-right cell ($curve)"
whites() { convert "$work/moved.png" -crop "$1" +repage -fill black +opaque "#FFFFFF" -fill white -opaque "#FFFFFF" \
             -format '%[fx:round(mean*w*h)]' info:; }
left=$(whites "$((bx - 40))x600+0+$((cy - 40))") top=$(whites "400x$((by - cy - 40))+$((bx - 40))+$((cy - 40))")
[ "$left" -eq 0 ] && [ "$top" -eq 0 ] ||
  fail "a subplot other than the moved one is drawn ($left white pixels left of it, $top above it)"
focus
xdotool key ctrl+z
sleep 0.5
shot "$work/undone.png"
# The figure area: the four cells (a cell is as far from the next as the
# curve moved), without the tool bar's and status bar's changes.
area="$((2 * (bx - gx0) - 10))x$((2 * (by - gy0) - 10))+0+$((gy0 - 75))"
diff=$(compare -metric AE -crop "$area" "$work/selected.png" "$work/undone.png" null: 2>&1 || true)
[ "${diff%% *}" -eq 0 ] || fail "Undo did not give the figure back ($diff pixels differ)"
close_program
echo "window_faults: keys, text field, zoom band, break key and frame move as expected"
