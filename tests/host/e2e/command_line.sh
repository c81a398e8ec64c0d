#!/usr/bin/env bash
# The program started with arguments that Qt would take for its own options,
# as a file manager or a desktop launcher may pass them: a window of 30,000
# pixels square, a style sheet that never ends or never comes, a platform
# and a display that do not exist, and a plain file name. The program reads
# no command line: every run shows the window in the screen, its memory stays
# near a plain start's (VmHWM, read from /proc while it runs; the run is
# stopped the moment it passes the bound), and Alt+F4 ends it with status 0.
# Every wait is bounded, and a run that ends by itself fails at once.
#   command_line.sh PROGRAM WORKDIR
set -euo pipefail
program=$1 work=$2
name=command_line
source "$(dirname "$0")/x11_session.sh"
title="Untitled - Tarnivel Runtime"
# Memory a start with arguments may take beyond a plain one (kB): far below
# the gigabytes of a 30,000-pixel window's backing store or of a style sheet
# read from /dev/zero.
slack_kb=$((150 * 1024))
screen_w=1280 screen_h=1024

peak_kb() { sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB$/\1/p' "/proc/$pid/status" 2>/dev/null || true; }
# Fails when the running program has ended by itself or its peak passed $1 kB.
check_running() {
  local peak status=0
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid" || status=$?
    pid=""
    fail "$args: the program ended by itself with status $status ($(tail -n 3 "$work/stderr" | tr '\n' ' '))"
  fi
  peak=$(peak_kb)
  if [ "${peak:-0}" -gt "$1" ]; then
    kill -9 "$pid" 2>/dev/null || true
    pid=""
    fail "$args: memory peak ${peak} kB passed $1 kB"
  fi
}
# Starts the program with the arguments given and waits for its window (at
# most 90 s: a loaded sanitizer run is slow), then watches it a second more.
start_watched() {
  local bound=$1
  shift
  args="$*"
  "$program" "$@" > "$work/stdout" 2> "$work/stderr" &
  pid=$!
  wid=""
  for _ in $(seq 450); do
    check_running "$bound"
    wid=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1 || true)
    [ -n "$wid" ] && break
    sleep 0.2
  done
  [ -n "$wid" ] || fail "$args: no window titled '$title'"
  for _ in $(seq 10); do
    check_running "$bound"
    sleep 0.1
  done
}
# The window's size, "W H".
window_size() {
  xdotool getwindowgeometry "$wid" | sed -n 's/^ *Geometry: \([0-9]*\)x\([0-9]*\)$/\1 \2/p'
}

# A plain start: the memory the others are held to.
args="(none)"
start_program "$program" "$title"
sleep 1
own_kb=$(peak_kb)
[ -n "$own_kb" ] || fail "no VmHWM for the running program"
close_program
bound=$((own_kb + slack_kb))

rm -f "$work/style.fifo"
mkfifo "$work/style.fifo"
printf 'x = 1\n' > "$work/file.tn"
cases=(
  "-geometry 30000x30000+0+0"
  "-qwindowgeometry 30000x30000+0+0"
  "-stylesheet /dev/zero"
  "-stylesheet $work/style.fifo"
  "-platform nosuch"
  "-display :999"
  "-reverse -style nosuch -session nosuch"
  "$work/file.tn"
)
for c in "${cases[@]}"; do
  # Word splitting gives each case's arguments; no path here holds a blank.
  # shellcheck disable=SC2086
  start_watched "$bound" $c
  read -r w h < <(window_size) || true
  [ -n "${w:-}" ] && [ "$w" -le "$screen_w" ] && [ "$h" -le "$screen_h" ] ||
    fail "$args: the window is ${w:-?} x ${h:-?}, beyond the ${screen_w} x ${screen_h} screen"
  close_program
done
echo "command_line: ${#cases[@]} argument lists, each window within the screen, memory within ${own_kb} kB + ${slack_kb} kB, Alt+F4 ends each"
