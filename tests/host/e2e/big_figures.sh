#!/usr/bin/env bash
# Large figures in the real program under the default settings, driven as a
# user drives them: surf 1000 x 1000, mesh 500 x 500, plot3 of 10^6 points,
# circle of 10^5, pcolor 2000 x 2000 and markers of 10^6 (the bigfigs
# application). Each is drawn whole (its inked area at least INK_SHARE
# percent of the same function's at a size that always drew), the window is
# resized, the figure rotated (3-D) or dragged (2-D) and the step undone to
# the picture before it; standard error holds nothing but the block's growth.
# Every step is judged once the program is idle (mostly asleep and the
# picture unchanged), not after fixed sleeps: a large figure's redraw can
# show nothing new for many seconds. Each kind's time is reported.
# Run by hand (slow):  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
#   tests/host/e2e/big_figures.sh build/tests/host/e2e/tarnivel-bigfigs WORKDIR [kind...]
# kinds: surf mesh plot3 circle pcolor markers (all by default).
# SIZE=medium draws every kind at a tenth of its large size or less and
# STEP=0.25 looks for the idle program twice as often: the quick run that
# CTest makes, on some kinds.
set -euo pipefail
program=$1 work=$2
shift 2
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(surf mesh plot3 circle pcolor markers)
name=big_figures
source "$(dirname "$0")/x11_session.sh"
background="#E5E5E5"
source "$(dirname "$0")/figure_shots.sh"
# Qt warns on standard error without a runtime directory of its own.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
ink_share=${INK_SHARE:-60}
declare -A key=([surf]=s [mesh]=m [plot3]=p [circle]=c [pcolor]=l [markers]=k)
declare -A size_key=([large]=l [medium]=m)
size=${SIZE:-large}
[ -n "${size_key[$size]:-}" ] || fail "SIZE is large or medium, not $size"
# The program is idle when, over two steps of STEP seconds in a row, it was
# mostly seen sleeping, it used less than half a CPU, and the picture stayed
# the same. A redraw keeps the program running (or waiting for a CPU on a
# loaded machine); at rest its timers wake it for moments, and its window's
# answers to the shots (X events) use a little more. The window shows a
# redraw only once it is done, so a busy spell taken for rest shows the
# picture before the step, and the steps below look again.
step=${STEP:-0.5}
clock_tick=$(getconf CLK_TCK)
idle_ticks=$(awk -v s="$step" -v t="$clock_tick" 'BEGIN { print int(s * t / 2) }')
# The program's CPU time so far, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# Watches the program's state for STEP seconds; false when it was running
# or runnable (R), or in an uninterruptible wait (D), in half the looks or
# more (at rest it is seen running now and then).
resting() {
  local state looks seen=0
  looks=$(awk -v s="$step" 'BEGIN { print int(s / 0.05) }')
  for _ in $(seq "$looks"); do
    read -r _ _ state _ < "/proc/$pid/stat"
    case "$state" in R|D) seen=$((seen + 1)) ;; esac
    sleep 0.05
  done
  [ $((2 * seen)) -lt "$looks" ]
}
# Shoots into $1 until the program is idle (at most about four minutes).
settle_idle() {
  local quiet=0 before after d busy
  shot "$1"
  for _ in $(seq "$(awk -v s="$step" 'BEGIN { print int(240 / s) }')"); do
    before=$(cpu_ticks)
    busy=0
    resting || busy=1
    after=$(cpu_ticks)
    shot "$work/settle.miff"
    d=$(apart "$1" "$work/settle.miff")
    [[ $d =~ ^[0-9]+$ ]] || fail "no pixel count from compare: $d"
    if [ "$busy" -eq 0 ] && [ $((after - before)) -lt "$idle_ticks" ] && [ "$d" -eq 0 ]; then
      quiet=$((quiet + 1))
      [ "$quiet" -ge 2 ] && return 0
    else
      quiet=0
      mv "$work/settle.miff" "$1"
    fi
  done
  return 1
}
# Shoots into $1, once the program is idle, until it differs from $2 (the
# event may reach the program after a first idle spell); false when it never
# does.
idle_other() {
  for _ in 1 2 3; do
    settle_idle "$1" || fail "the program stayed busy for minutes"
    [ "$(apart "$1" "$2")" -gt 0 ] && return 0
  done
  return 1
}
# As idle_other, until the picture is $2 again; the pixels that still differ
# are left in `differ`.
idle_same() {
  for _ in 1 2 3; do
    settle_idle "$1" || fail "the program stayed busy for minutes"
    differ=$(apart "$1" "$2")
    [ "$differ" -eq 0 ] && return 0
  done
  return 1
}
# A menu entry by its keys, each waited on until the program is idle.
menu() {
  focus; xdotool key "$1"; settle_idle "$work/menu.miff" || true
  xdotool key "$2"
}
# Pixels of the figure area that are neither its background nor white.
ink() {
  convert "$1" -crop "$area" +repage -fill white -opaque "$background" -fill black +opaque white \
    -format '%[fx:round((1 - mean) * w * h)]' info:
}
# Standard error holds nothing but the block's growth (and, in a sanitizer
# build, the leak checker's table of the suppressions it used at exit).
stderr_clean() {
  local other
  other=$(grep -Ev '^TN memory expanded to |^-+$|^Suppressions used:|^ *count +bytes +template$|^ +[0-9]+ +[0-9]+ +libdbus-1$' \
    "$work/stderr" | head -n 3 || true)
  [ -z "$other" ] || fail "$1: standard error holds more than the block's growth: $other"
}
passed=()

start_program "$program" "Big Figures - Tarnivel Runtime"
area=8000x8000+0+0  # the whole screen until the figure's area is known
settle_idle "$work/start.miff"
figure_area "$work/start.miff"
for kind in "${kinds[@]}"; do
  began=$SECONDS cpu_began=$(cpu_ticks)
  menu alt+k "${key[$kind]}"
  settle_idle "$work/$kind-small.miff"
  small=$(ink "$work/$kind-small.miff")
  [ "$small" -gt 0 ] || fail "$kind: the small figure inks nothing"
  menu alt+s "${size_key[$size]}"
  idle_other "$work/$kind-large.miff" "$work/$kind-small.miff" || fail "$kind: the $size figure never changed the picture"
  large=$(ink "$work/$kind-large.miff")
  [ $((large * 100)) -ge $((small * ink_share)) ] ||
    fail "$kind: the $size figure inks $large pixels, the small one $small: not drawn whole"
  stderr_clean "$kind drawn"
  # Resized larger and back: the figure is drawn again, then as it was.
  read -r ww wh <<< "$(xdotool getwindowgeometry --shell "$wid" | sed -n 's/^WIDTH=//p; s/^HEIGHT=//p' | tr '\n' ' ')"
  xdotool windowsize "$wid" $((ww + 120)) $((wh + 80))
  idle_other "$work/$kind-resized.miff" "$work/$kind-large.miff" || fail "$kind: the resize drew nothing new"
  xdotool windowsize "$wid" "$ww" "$wh"
  idle_same "$work/$kind-back.miff" "$work/$kind-large.miff" ||
    fail "$kind: resized back, the figure is not as it was ($differ pixels differ)"
  # Drag tool: orbits a 3-D camera, pans a 2-D figure; then Undo. Moves of
  # 15 pixels turn a 3-D view by several degrees and pan a 2-D figure that
  # covers its frame off one edge.
  focus; xdotool key ctrl+4
  xdotool mousemove --sync "$cx" "$cy"
  settle_idle "$work/$kind-tool.miff"
  xdotool mousedown 1
  for move in 1 2 3 4; do xdotool mousemove --sync $((cx + 15 * move)) $((cy + 5 * move)); sleep 0.1; done
  xdotool mouseup 1
  idle_other "$work/$kind-dragged.miff" "$work/$kind-back.miff" || fail "$kind: the drag changed nothing"
  focus; xdotool key ctrl+z
  idle_same "$work/$kind-undone.miff" "$work/$kind-back.miff" ||
    fail "$kind: Undo of the drag did not give the figure back ($differ pixels differ)"
  stderr_clean "$kind resized, dragged and undone"
  cpu=$(awk -v n="$(( $(cpu_ticks) - cpu_began ))" -v t="$clock_tick" 'BEGIN { printf "%.1f", n / t }')
  passed+=("$kind ($large pixels inked, small $small; $((SECONDS - began)) s, the program's CPU $cpu s)")
  focus; xdotool key ctrl+1
  menu alt+s s
done
close_program
stderr_clean "closed"
printf '%s: drawn whole, resized, dragged and undone at the %s size: %s\n' "$name" "$size" "$(IFS=';'; echo "${passed[*]}")"
