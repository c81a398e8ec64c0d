#!/usr/bin/env bash
# The window's history and its redrawing as a user meets them, in an X
# server with xdotool:
# - a figure whose plot handler lays itself out with subplot (a curve in
#   each of two cells) is drawn as at the start after its menu command, its
#   drag handler, a resize, Undo; Edit > Copy holds both curves and the
#   right-hand cell's own labels;
# - on the demo, X Grid right after the start and Frame right after Reset
#   Data are undone and redone;
# - a middle-button drag under the Drag tool is undone and redone;
# - F1 opens the help window as "TN File Help";
# - a window stored reaching past 1000 pixels is not restored, one within
#   them is.
#   window_history.sh HISTORY_PROGRAM DEMO_PROGRAM WORKDIR
set -euo pipefail
history=$1 demo=$2 work=$3
name=window_history
source "$(dirname "$0")/x11_session.sh"
background="#E5E5E5" orange="#FF8000"
source "$(dirname "$0")/figure_shots.sh"
menu() { focus; for k in "$@"; do xdotool key "$k"; sleep 0.3; done; }
settings="$XDG_CONFIG_HOME/Brelvon/Tarnivel Runtime.ini"

# The texts of the figure copied with Ctrl+C, one a line (at most 5 s).
copied_texts() {
  focus
  xdotool key ctrl+c
  for _ in $(seq 25); do
    if timeout 5 xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -qx 'image/svg+xml'; then
      timeout 5 xclip -selection clipboard -t image/svg+xml -o > "$work/copy.svg"
      tr -d '\n' < "$work/copy.svg" | grep -o '>[^<>]*</text>' | sed 's/^ *>//; s/<\/text>$//'
      return 0
    fi
    sleep 0.2
  done
  return 1
}
# The window's width as the X server has it.
window_width() { xdotool getwindowgeometry --shell "$wid" | sed -n 's/^WIDTH=//p'; }
# Stores a placement for the next start.
store_placement() {
  printf '[1.0]\nInteractiveHilight=0\nWindowShowCmd=1\nWindowLeft=%s\nWindowTop=%s\nWindowRight=%s\nWindowBottom=%s\n' \
    "$@" > "$settings"
}

# ---- A figure laid out with subplot -----------------------------------------
start_program "$history" "History - Tarnivel Runtime"
wait_for_colour "$work/h0.miff" "$orange" || fail "the right-hand curve never showed"
figure_area "$work/h0.miff"
settle "$work/h0.miff"
menu alt+t a
wait_for_same "$work/h-again.miff" "$work/h0.miff" ||
  fail "Again did not draw the figure as at the start ($differ pixels differ)"
# The drag handler: a drag over the left-hand cell.
xdotool mousemove --sync $((cx - cx / 3)) "$cy" mousedown 1
sleep 0.1
xdotool mousemove --sync $((cx - cx / 3 + 20)) $((cy + 10))
sleep 0.1
xdotool mouseup 1
wait_for_same "$work/h-dragged.miff" "$work/h0.miff" ||
  fail "the drag handler did not draw the figure as at the start ($differ pixels differ)"
read -r w h <<< "$(xdotool getwindowgeometry --shell "$wid" | sed -n 's/^WIDTH=//p; s/^HEIGHT=//p' | tr '\n' ' ')"
xdotool windowsize --sync "$wid" $((w + 120)) $((h + 90)) 2>/dev/null || xdotool windowsize "$wid" $((w + 120)) $((h + 90))
sleep 0.5
xdotool windowsize --sync "$wid" "$w" "$h" 2>/dev/null || xdotool windowsize "$wid" "$w" "$h"
wait_for_same "$work/h-resized.miff" "$work/h0.miff" ||
  fail "a resize did not draw the figure as at the start ($differ pixels differ)"
focus; xdotool key ctrl+z
sleep 0.3
wait_for_same "$work/h-undone.miff" "$work/h0.miff" ||
  fail "Undo did not draw the figure as at the start ($differ pixels differ)"
texts=$(copied_texts) || fail "Ctrl+C put no SVG on the clipboard"
grep -qi 'stroke="#ff8000"' "$work/copy.svg" || fail "the copy lacks the right-hand curve"
grep -qi 'stroke="#0000ff"' "$work/copy.svg" || fail "the copy lacks the left-hand curve"
for v in 10 11 12 13 14 15 16; do
  [ "$(grep -cx -- "$v" <<< "$texts")" -eq 1 ] ||
    fail "the copy's right-hand labels are not 10 to 16 once each: $(tr '\n' ' ' <<< "$texts")"
done
wait_for_same "$work/h-copied.miff" "$work/h0.miff" ||
  fail "the copy left the screen changed ($differ pixels differ)"
# F1: the help window, under its first caption.
focus; xdotool key F1
timeout 10 xdotool search --sync --onlyvisible --name '^TN File Help$' > /dev/null ||
  fail "F1 opened no window titled \"TN File Help\""
close_program

# ---- The demo: options undone right after the start and after Reset Data ----
start_program "$demo" "Tarnivel Demo - Tarnivel Runtime"
wait_for_colour "$work/d0.miff" "#0000FF" || fail "the demo's curve never showed"
figure_area "$work/d0.miff"
settle "$work/d0.miff"
menu alt+i g x
wait_for_other "$work/d-grid.miff" "$work/d0.miff" || fail "X Grid changed nothing"
focus; xdotool key ctrl+z
wait_for_same "$work/d-grid-undone.miff" "$work/d0.miff" ||
  fail "Undo of X Grid right after the start did not take the grid away ($differ pixels differ)"
focus; xdotool key ctrl+shift+z
wait_for_same "$work/d-grid-redone.miff" "$work/d-grid.miff" || fail "Redo of X Grid drew no grid ($differ pixels differ)"
menu alt+f r
wait_for_other "$work/d-reset.miff" "$work/d-grid.miff" || fail "Reset Data changed nothing"
menu alt+i o f
wait_for_other "$work/d-frame.miff" "$work/d-reset.miff" || fail "Frame changed nothing"
focus; xdotool key ctrl+z
wait_for_same "$work/d-frame-undone.miff" "$work/d-reset.miff" ||
  fail "Undo of Frame right after Reset Data did not give the frame back ($differ pixels differ)"

# ---- A middle-button drag, undone and redone -----------------------------
focus; xdotool key ctrl+4
sleep 0.2
shot "$work/d-before.miff"
settle "$work/d-before.miff"
xdotool mousemove --sync "$cx" "$cy" mousedown 2
for step in 1 2 3 4; do
  xdotool mousemove --sync $((cx + 15 * step)) $((cy + 8 * step))
  sleep 0.06
done
xdotool mouseup 2
wait_for_other "$work/d-middle.miff" "$work/d-before.miff" || fail "the middle-button drag changed nothing"
focus; xdotool key ctrl+z
wait_for_same "$work/d-middle-undone.miff" "$work/d-before.miff" ||
  fail "Undo of the middle-button drag did not give the view back ($differ pixels differ)"
focus; xdotool key ctrl+shift+z
wait_for_same "$work/d-middle-redone.miff" "$work/d-middle.miff" ||
  fail "Redo of the middle-button drag did not draw the dragged view ($differ pixels differ)"
close_program

# ---- Stored placements ---------------------------------------------------
store_placement 100 50 1200 700
start_program "$history" "History - Tarnivel Runtime"
sleep 0.5
[ "$(window_width)" -ne 1100 ] || fail "a window stored reaching x = 1200 was restored"
close_program
store_placement 100 50 850 650
start_program "$history" "History - Tarnivel Runtime"
sleep 0.5
[ "$(window_width)" -eq 750 ] || fail "a window stored from x = 100 to 850 came back $(window_width) wide"
close_program
echo "window_history: subplot figure redrawn as at the start, options and middle drag undone and redone, help caption and placements as stored"
