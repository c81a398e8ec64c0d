#!/usr/bin/env bash
# The view's history in the real window, driven with xdotool: on the demo a
# zoom band, three wheel notches under the drag tool (one step), a drag, a
# menu command, an x zoom, a drag along x and a zoom out, then each Undo
# (Ctrl+Z and Edit > Undo) gives back the figure pixel for pixel as it was
# before its step, down to the first picture, and each Redo (Ctrl+Shift+Z
# and Edit > Redo) the one after. Before them a wheel pan on the fresh
# figure is undone to the first picture. A handler that drew a
# surface and then draws a curve draws it as at the start; the surface keeps
# the camera the user turned while its data change, and the turn undoes.
#   view_undo.sh DEMO_PROGRAM KINDS_PROGRAM WORKDIR
set -euo pipefail
demo=$1 kinds=$2 work=$3
name=view_undo
source "$(dirname "$0")/x11_session.sh"
background="#E5E5E5"
source "$(dirname "$0")/figure_shots.sh"

# A press, four moves and the release, offsets from the figure's centre,
# with the keys in $5 held (none, or "shift").
gesture() {
  local x0=$((cx + $1)) y0=$((cy + $2)) dx=$(($3 / 4)) dy=$(($4 / 4))
  [ -n "${5:-}" ] && xdotool keydown "$5"
  xdotool mousemove --sync "$x0" "$y0" mousedown 1
  for step in 1 2 3 4; do
    xdotool mousemove --sync $((x0 + dx * step)) $((y0 + dy * step))
    sleep 0.06
  done
  xdotool mouseup 1
  [ -n "${5:-}" ] && xdotool keyup "$5"
  return 0
}
menu() { focus; xdotool key "$1"; sleep 0.3; xdotool key "$2"; }
# Three wheel notches (button 5, towards the user) near the figure's centre,
# off the point where the next gesture starts: a move with --sync to where
# the pointer already is waits for a motion that never comes.
wheel() { xdotool mousemove --sync $((cx - 20)) $((cy + 20)) click --repeat 3 --delay 40 5; }

# ---- The demo: zooms and drags, each undone and redone ----------------------
start_program "$demo" "Tarnivel Demo - Tarnivel Runtime"
wait_for_colour "$work/v0.miff" "#0000FF" || fail "the demo's curve never showed"
figure_area "$work/v0.miff"
settle "$work/v0.miff"
focus; xdotool key ctrl+4; sleep 0.1
wheel
wait_for_other "$work/w0.miff" "$work/v0.miff" || fail "the wheel did not pan the fresh figure"
focus; xdotool key ctrl+z
wait_for_same "$work/w0-undone.miff" "$work/v0.miff" ||
  fail "Undo of the wheel pan did not give the first picture back ($differ pixels differ)"
steps=("zoom band" "wheel pan" "drag" "Flip Curve" "x zoom" "drag along x" "zoom out")
n=0
step_done() {
  n=$((n + 1))
  wait_for_other "$work/v$n.miff" "$work/v$((n - 1)).miff" || fail "the ${steps[n - 1]} changed nothing"
}
focus; xdotool key ctrl+2; sleep 0.1
gesture -100 -160 200 320; step_done
focus; xdotool key ctrl+4; sleep 0.1
wheel; step_done
gesture 0 0 40 30; step_done
menu alt+d f; step_done
focus; xdotool key ctrl+3; sleep 0.1
gesture -80 0 160 10; step_done
focus; xdotool key ctrl+4; sleep 0.1
gesture 0 0 -60 20 shift; step_done
focus; xdotool key ctrl+2; sleep 0.1
xdotool keydown shift; xdotool mousemove --sync $((cx + 30)) $((cy - 20)) click 1; xdotool keyup shift; step_done

for k in $(seq "$n" -1 1); do
  if [ $((k % 2)) -eq 0 ]; then focus; xdotool key ctrl+z; else menu alt+e u; fi
  wait_for_same "$work/undo$k.miff" "$work/v$((k - 1)).miff" ||
    fail "Undo of the ${steps[k - 1]} did not give the figure back ($differ pixels differ)"
done
for k in $(seq 1 "$n"); do
  if [ $((k % 2)) -eq 0 ]; then focus; xdotool key ctrl+shift+z; else menu alt+e r; fi
  wait_for_same "$work/redo$k.miff" "$work/v$k.miff" ||
    fail "Redo of the ${steps[k - 1]} did not draw it again ($differ pixels differ)"
done
close_program

# ---- A curve, a surface, and the camera the user turned --------------------
start_program "$kinds" "Plot Kinds - Tarnivel Runtime"
wait_for_colour "$work/k-curve.miff" "#0000FF" || fail "the curve never showed"
figure_area "$work/k-curve.miff"
settle "$work/k-curve.miff"
menu alt+k t
wait_for_other "$work/k-surface.miff" "$work/k-curve.miff" || fail "Toggle drew no surface"
menu alt+k t
wait_for_same "$work/k-again.miff" "$work/k-curve.miff" ||
  fail "the curve after the surface is not drawn as at the start ($differ pixels differ)"
menu alt+k t
wait_for_same "$work/k-surface2.miff" "$work/k-surface.miff" || fail "the surface did not come back ($differ pixels differ)"
focus; xdotool key ctrl+4; sleep 0.1
gesture 0 0 60 -30
wait_for_other "$work/k-turned.miff" "$work/k-surface.miff" || fail "the drag did not turn the camera"
menu alt+k a
wait_for_other "$work/k-taller.miff" "$work/k-turned.miff" || fail "Taller changed nothing"
# To the curve and back: the taller surface comes back under the turned camera.
menu alt+k t
wait_for_other "$work/k-taller-curve.miff" "$work/k-taller.miff" || fail "Toggle drew no curve"
menu alt+k t
wait_for_same "$work/k-back.miff" "$work/k-taller.miff" ||
  fail "the surface did not keep the turned camera ($differ pixels differ)"
for k in 1 2 3; do focus; xdotool key ctrl+z; sleep 0.2; done
wait_for_same "$work/k-undone.miff" "$work/k-turned.miff" || fail "Undo did not go back to the turned surface ($differ pixels differ)"
focus; xdotool key ctrl+z
wait_for_same "$work/k-unturned.miff" "$work/k-surface.miff" || fail "Undo of the turn did not give the view back ($differ pixels differ)"
close_program
echo "view_undo: zooms, drags, wheel pans and camera undone and redone; a curve after a surface drawn as at the start"
