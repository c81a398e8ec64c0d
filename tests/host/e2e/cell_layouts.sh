#!/usr/bin/env bash
# Layouts as a user meets them, in an X server with xdotool:
# - every cell takes the mouse: a figure whose plot handler lays out its
#   cells with subplot (one by two, then two by two after Test > Quad) and a
#   declared layout of four figures (two by two, then one by two from the
#   Layout menu); in each cell a press, a drag and a release on its point,
#   then on its slider, run the figure's handlers for that cell's point or
#   slider alone (the handlers tell each run on standard error);
# - a declared free layout with rigid springs shows at start as Reset Data
#   shows it, with and without a design size, both cells in the window.
#   cell_layouts.sh CELLS DECLARED START_POS START_SIZE WORKDIR
set -euo pipefail
cells=$1 declared=$2 start_pos=$3 start_size=$4 work=$5
name=cell_layouts
source "$(dirname "$0")/x11_session.sh"
background="#E5E5E5"
source "$(dirname "$0")/figure_shots.sh"
colours=(FF0000 00C000 0000FF FF00FF)
menu() { focus; for k in "$@"; do xdotool key "$k"; sleep 0.3; done; }

# The handlers' reports after line $1 of standard error.
reports() { tail -n +$(($1 + 1)) "$work/stderr"; }
lines() { wc -l < "$work/stderr"; }
# Waits (at most 5 s) for the report "release $2" after line $1, then
# checks that the reports since are a press, drags and that release, all of
# element $2.
expect_gesture() {
  local from=$1 id=$2 what=$3
  for _ in $(seq 100); do
    reports "$from" | grep -qx "release $id" && break
    sleep 0.05
  done
  reports "$from" | awk -v id="$id" '
    { if ($2 != id) bad = 1; kinds = kinds substr($1, 1, 1) }
    END { exit !(!bad && kinds ~ /^pd+r$/) }' ||
    fail "$what: the reports were not a press, drags and a release of $id: $(reports "$from" | tr '\n' '|')"
}

# The places of the points of cells 1 to $1, from one shot: each cell's
# point moves only when it is dragged itself.
points() {
  local k w h x y
  wait_for_colour "$work/cells.miff" "#${colours[$(($1 - 1))]}" || fail "cell $1: its point never showed"
  for k in $(seq "$1"); do
    read -r w h x y <<< "$(colour_box "$work/cells.miff" "#${colours[$((k - 1))]}")"
    [ -n "${w:-}" ] || fail "cell $k: its point never showed"
    place[k]="$((x + w / 2)) $((y + h / 2))"
  done
}
# A press at ($1, $2), a move to ($3, $4) and a release (the pause keeps
# the move from being dropped as one too many).
gesture() {
  xdotool mousemove --sync "$1" "$2" mousedown 1
  sleep 0.02
  xdotool mousemove --sync "$3" "$4"
  sleep 0.02
  xdotool mouseup 1
}
# Cell k: its point dragged 25 pixels right and 15 up, then its slider
# dragged from data x = 6 to 9 on the row through the middle of its axes.
# The point's two drag reports give the data-to-pixel map that places the
# slider.
cell() {
  local k=$1 px py from map sx0 sx1 sy
  read -r px py <<< "${place[k]}"
  from=$(lines)
  gesture "$px" "$py" $((px + 25)) $((py - 15))
  expect_gesture "$from" "$k" "cell $k, point"
  map=$(reports "$from" | awk -v px="$px" -v py="$py" '
    $1 == "drag" { n++; if (n == 1) { x0 = $3; y0 = $4 } x1 = $3; y1 = $4 }
    END {
      if (n < 2 || x1 == x0 || y1 == y0) exit 1
      ax = 25 / (x1 - x0); ay = -15 / (y1 - y0)
      printf "%d %d %d\n", px + (6 - x0) * ax, px + (9 - x0) * ax, py + (5 - y0) * ay
    }') || fail "cell $k: the point's drag reports give no map: $(reports "$from" | tr '\n' '|')"
  read -r sx0 sx1 sy <<< "$map"
  from=$(lines)
  gesture "$sx0" "$sy" "$sx1" "$sy"
  expect_gesture "$from" $((10 + k)) "cell $k, slider"
  reports "$from" | awk '$1 == "drag" { n++; if (n == 1) first = $3; last = $3 } END { exit !(n >= 2 && last > first) }' ||
    fail "cell $k: the slider did not move up: $(reports "$from" | tr '\n' '|')"
}
# Every cell of a layout of $1 cells, in turn.
every_cell() {
  points "$1"
  for k in $(seq "$1"); do cell "$k"; done
}

# ---- Cells laid out by subplot -----------------------------------------------
start_program "$cells" "Cells - Tarnivel Runtime"
sleep 0.3  # the window may still be placed after its first picture
every_cell 2
menu alt+t q
every_cell 4
close_program

# ---- A declared layout of four figures, then one by two ----------------------
start_program "$declared" "Declared Cells - Tarnivel Runtime"
sleep 0.3
every_cell 4
menu alt+l Down Return
wait_for_change "$work/pair.miff" "#${colours[3]}" "" gone || fail "Layout > 1 x 2 left the fourth cell"
every_cell 2
close_program

# ---- Declared free layouts: the start is what Reset Data shows ---------------
for program in "$start_pos" "$start_size"; do
  title=$(basename "$program" | sed 's/^tarnivel-start/Start /')
  start_program "$program" "$title - Tarnivel Runtime"
  wait_for_colour "$work/s0.miff" "#FF0000" || fail "$title: cell A is not in the window at start"
  wait_for_colour "$work/s0.miff" "#0000FF" || fail "$title: cell B is not in the window at start"
  figure_area "$work/s0.miff"
  settle "$work/s0.miff"
  menu alt+f r
  wait_for_same "$work/s-reset.miff" "$work/s0.miff" ||
    fail "$title: Reset Data showed another layout than the start ($differ pixels differ)"
  close_program
done
echo "$name: every cell of four layouts took presses, drags and releases; declared free layouts start as Reset Data shows them"
