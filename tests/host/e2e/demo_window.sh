#!/usr/bin/env bash
# The packed demo as its own process in an X server: the window is found by
# its title, shows the figure and the red point, a drag moves the point, and
# Alt+F4 ends the program with status 0, leaving its placement in the
# settings. Run under xvfb-run (no window manager). Every wait is bounded.
#   demo_window.sh PROGRAM WORKDIR [SCREENSHOT]
set -euo pipefail
program=$1 work=$2 shot_out=${3:-}
title="Tarnivel Demo - Tarnivel Runtime"
mkdir -p "$work"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
rm -rf "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
# The demo's figure takes the mouse: with the highlight preference on its axes
# are red like the point, which is found by its colour.
mkdir -p "$XDG_CONFIG_HOME/Brelvon"
printf '[1.0]\nInteractiveHilight=0\n' > "$XDG_CONFIG_HOME/Brelvon/Tarnivel Runtime.ini"
# Under the X11 plugin libdbus keeps one block at exit.
printf 'leak:libdbus-1\n' > "$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export QT_QPA_PLATFORM=xcb

fail() { echo "demo_window: $*" >&2; kill "$pid" 2>/dev/null || true; exit 1; }
# The bounding box "W H X Y" of the pixels of one colour, or nothing when no
# pixel has it.
colour_box() {
  local count
  count=$(convert "$1" -fill black +opaque "$2" -fill white -opaque "$2" -format '%[fx:round(mean*w*h)]' info:)
  [ "${count:-0}" -gt 0 ] || return 0
  convert "$1" -fill black +opaque "$2" -format '%@' info: |
    sed -n 's/^\([0-9]*\)x\([0-9]*\)+\([0-9]*\)+\([0-9]*\)$/\1 \2 \3 \4/p'
}
shot() { import -window root "$1"; }

"$program" > "$work/stdout" 2> "$work/stderr" &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^$title\$" | head -n 1) || fail "no window titled '$title'"
timeout 10 xdotool windowfocus --sync "$wid" || true
# The first paint: wait until the point's colour shows (at most 10 s).
for _ in $(seq 50); do
  shot "$work/first.png"
  box=$(colour_box "$work/first.png" "#FF0000")
  [ -n "$box" ] && break
  sleep 0.2
done
[ -n "$box" ] || fail "the red point never showed"
[ -n "$(colour_box "$work/first.png" "#E5E5E5")" ] || fail "no figure background"
[ -n "$(colour_box "$work/first.png" "#0000FF")" ] || fail "no blue curve"
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
moved=""
for _ in $(seq 50); do
  shot "$work/second.png"
  box2=$(colour_box "$work/second.png" "#FF0000")
  if [ -n "$box2" ] && [ "$box2" != "$box" ]; then moved=yes; break; fi
  sleep 0.2
done
[ -n "$moved" ] || fail "the point did not move (before: $box, after: ${box2:-none})"

timeout 10 xdotool windowfocus --sync "$wid" || true
xdotool key alt+F4
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then fail "Alt+F4 did not end the program"; fi
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { cat "$work/stderr" >&2; fail "exit status $status"; }
ini="$XDG_CONFIG_HOME/Brelvon/Tarnivel Runtime.ini"
grep -q '^WindowLeft=' "$ini" || fail "no placement in $ini"
echo "demo_window: window, figure, drag and exit as expected"
