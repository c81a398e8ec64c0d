#!/usr/bin/env bash
# Large figures in the real program under the default settings, driven as a
# user drives them: surf 1000 x 1000, mesh 500 x 500, plot3 of 10^6 points,
# circle of 10^5, pcolor 2000 x 2000 and markers of 10^6 (the bigfigs
# application). Each is drawn whole (its inked area at least INK_SHARE
# percent of the same function's at a size that always drew), the window is
# resized, the figure rotated (3-D) or dragged (2-D) and the step undone to
# the picture before it; standard error holds no failure report.
# Run by hand (slow):  xvfb-run -a -s "-screen 0 1280x1024x24" \
#   tests/host/e2e/big_figures.sh build/tests/host/e2e/tarnivel-bigfigs WORKDIR [kind...]
# kinds: surf mesh plot3 circle pcolor markers (all by default).
set -euo pipefail
program=$1 work=$2
shift 2
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(surf mesh plot3 circle pcolor markers)
name=big_figures
source "$(dirname "$0")/x11_session.sh"
background="#E5E5E5"
source "$(dirname "$0")/figure_shots.sh"
ink_share=${INK_SHARE:-60}
declare -A key=([surf]=s [mesh]=m [plot3]=p [circle]=c [pcolor]=l [markers]=k)
focus() { timeout 10 xdotool windowfocus --sync "$wid" || true; }
# A menu entry by its keys; the pause lets a loaded machine open the menu
# before the entry's key comes, and close it before the next shot.
menu() { focus; xdotool key "$1"; sleep 1; xdotool key "$2"; sleep 1; }
# Pixels of the figure area that are neither its background nor white.
ink() {
  convert "$1" -crop "$area" +repage -fill black -opaque "$background" -opaque white -fill white +opaque black \
    -format '%[fx:round(mean*w*h)]' info:
}
# Shoots again into $1 until the picture has stayed the same for SETTLE
# seconds (4 unless set): a large figure's redraw shows nothing new until it
# is done, so SETTLE must exceed the longest redraw (at most 120 s in all).
settle_long() {
  local same=0
  for _ in $(seq 240); do
    sleep 0.5
    shot "$work/settle.miff"
    if [ "$(apart "$1" "$work/settle.miff")" -eq 0 ]; then
      same=$((same + 1))
      [ "$same" -ge $((2 * ${SETTLE:-4})) ] && return 0
    else
      same=0
      mv "$work/settle.miff" "$1"
    fi
  done
}
# As wait_for_other, with the long wait and settle of a large figure.
wait_long() {
  for _ in $(seq 300); do
    shot "$1"
    [ "$(apart "$1" "$2")" -gt 0 ] && { settle_long "$1"; return 0; }
    sleep 0.3
  done
  return 1
}
passed=()

start_program "$program" "Big Figures - Tarnivel Runtime"
sleep 1
shot "$work/start.miff"
figure_area "$work/start.miff"
settle "$work/start.miff"
for kind in "${kinds[@]}"; do
  menu alt+k "${key[$kind]}"
  shot "$work/$kind-small.miff"; settle_long "$work/$kind-small.miff"
  small=$(ink "$work/$kind-small.miff")
  menu alt+s l
  wait_long "$work/$kind-large.miff" "$work/$kind-small.miff" || fail "$kind: the large figure never changed the picture"
  large=$(ink "$work/$kind-large.miff")
  [ $((large * 100)) -ge $((small * ink_share)) ] ||
    fail "$kind: the large figure inks $large pixels, the small one $small: not drawn whole"
  if grep -Eq "overflow|Not enough memory" "$work/stderr"; then
    fail "$kind: a failure report on standard error after a draw that succeeded: $(grep -Em1 'overflow|Not enough memory' "$work/stderr")"
  fi
  # Resized larger and back: the figure is drawn again, then as it was.
  read -r ww wh <<< "$(xdotool getwindowgeometry --shell "$wid" | sed -n 's/^WIDTH=//p; s/^HEIGHT=//p' | tr '\n' ' ')"
  xdotool windowsize "$wid" $((ww + 120)) $((wh + 80))
  wait_long "$work/$kind-resized.miff" "$work/$kind-large.miff" || fail "$kind: the resize drew nothing new"
  xdotool windowsize "$wid" "$ww" "$wh"
  wait_long "$work/$kind-back.miff" "$work/$kind-resized.miff" || fail "$kind: the resize back drew nothing"
  figure_area "$work/$kind-back.miff"
  # Drag tool: orbits a 3-D camera, pans a 2-D figure; then Undo.
  focus; xdotool key ctrl+4; sleep 0.2
  xdotool mousemove --sync "$cx" "$cy" mousedown 1
  for step in 1 2 3 4; do xdotool mousemove --sync $((cx + 15 * step)) $((cy + 5 * step)); sleep 0.1; done
  xdotool mouseup 1
  wait_long "$work/$kind-dragged.miff" "$work/$kind-back.miff" || fail "$kind: the drag changed nothing"
  focus; xdotool key ctrl+z
  for _ in $(seq 300); do
    shot "$work/$kind-undone.miff"
    differ=$(apart "$work/$kind-undone.miff" "$work/$kind-back.miff")
    [ "$differ" -eq 0 ] && break
    sleep 0.3
  done
  [ "$differ" -eq 0 ] || fail "$kind: Undo of the drag did not give the figure back ($differ pixels differ)"
  passed+=("$kind ($large pixels inked, small $small)")
  menu alt+s s
done
close_program
printf '%s: drawn whole, resized, dragged and undone: %s\n' "$name" "$(IFS=';'; echo "${passed[*]}")"
