#!/usr/bin/env bash
# A drag whose every step is slow, in the real window, driven with xdotool:
# the pointer moves 24 times within a fraction of one step's time, and the
# figure follows in a few steps, not one per move, and ends where the
# pointer stopped. The drag handler tells each of its runs on standard error.
#   slow_drag.sh PROGRAM WORKDIR
set -euo pipefail
program=$1 work=$2
name=slow_drag
source "$(dirname "$0")/x11_session.sh"
moves=24 most_steps=8

start_program "$program" "Slow Drag - Tarnivel Runtime"
wait_for_colour "$work/s0.miff" "#FF0000" || fail "the point never showed"
# The window may still be placed and laid out after its first picture.
sleep 1
wait_for_colour "$work/s0.miff" "#FF0000" || fail "the point went away"
read -r w h x y <<< "$box"
px=$((x + w / 2)) py=$((y + h / 2))
xdotool mousemove --sync "$px" "$py" mousedown 1
sleep 0.3
for k in $(seq "$moves"); do xdotool mousemove $((px - 4 * k)) $((py + 2 * k)); done
tx=$((px - 4 * moves)) ty=$((py + 2 * moves))
# The point reaches the pointer's last place once the steps are over.
reached=""
for _ in $(seq 50); do
  sleep 0.2
  shot "$work/s1.miff"
  read -r w h x y <<< "$(colour_box "$work/s1.miff" "#FF0000")"
  cx=$((x + w / 2)) cy=$((y + h / 2))
  if [ $((cx - tx)) -ge -2 ] && [ $((cx - tx)) -le 2 ] && [ $((cy - ty)) -ge -2 ] && [ $((cy - ty)) -le 2 ]; then
    reached=1
    break
  fi
done
[ -n "$reached" ] || fail "the point stopped at ($cx, $cy), the pointer at ($tx, $ty)"
xdotool mouseup 1
steps=$(grep -c '^step' "$work/stderr" || true)
[ "$steps" -ge 1 ] && [ "$steps" -le "$most_steps" ] || fail "$moves moves took $steps steps"
close_program
echo "$name: $moves moves, $steps steps"
