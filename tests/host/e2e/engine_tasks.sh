#!/usr/bin/env bash
# Engine tasks in the real window, driven with xdotool: a task that a menu
# handler starts counts alone while the window is idle, and beside a handler
# that waits a second it still makes a good share of that (at least a
# third); with a task counting for ever in the background the window still
# opens its menu quickly, and a menu command still runs and redraws; a
# task's error ends that task alone, not the handler running meanwhile.
#   engine_tasks.sh TASKS_PROGRAM WORKDIR
set -euo pipefail
program=$1 work=$2
name=engine_tasks
source "$(dirname "$0")/x11_session.sh"
green="#009900"
menu() { focus; xdotool key alt+t; sleep 0.3; xdotool key "$1"; }
# Waits (at most 10 s) for a line of standard error that matches $1; it is
# left in `line`.
wait_for_line() {
  line=""
  for _ in $(seq 100); do
    line=$(grep -E "$1" "$work/stderr" | tail -n 1 || true)
    [ -n "$line" ] && return 0
    sleep 0.1
  done
  return 1
}
# Every window mapped on the screen, a menu among them, is noted in
# maps.log with the time it was seen (bash's clock, no process started).
: > "$work/maps.log"
stdbuf -oL xev -root -event substructure | while read -r event _; do
  [ "$event" = MapNotify ] && echo "$EPOCHREALTIME" >> "$work/maps.log"
done &
watcher=$!
trap 'kill "$watcher" 2>/dev/null; [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; true' EXIT
seconds_to_ms() { local s=${1/./}; echo $((10#$s / 1000)); }
# Opens the menu and sets `answer` to the milliseconds from the key press
# to the menu's window (at most 5 s), then closes the menu.
menu_answer() {
  focus
  local seen t0
  seen=$(wc -l < "$work/maps.log")
  t0=$(seconds_to_ms "$EPOCHREALTIME")
  xdotool key alt+t
  until [ "$(wc -l < "$work/maps.log")" -gt "$seen" ]; do
    [ $(($(seconds_to_ms "$EPOCHREALTIME") - t0)) -lt 5000 ] || fail "the menu did not open within 5 s"
    sleep 0.01
  done
  answer=$(($(seconds_to_ms "$(sed -n "$((seen + 1))p" "$work/maps.log")") - t0))
  xdotool key Escape
  sleep 0.3
}

# The middle of five menu answers (left in `middle`), and the slowest (`worst`).
menu_answers() {
  local all=()
  for _ in 1 2 3 4 5; do
    menu_answer
    all+=("$answer")
  done
  read -r _ _ middle _ worst <<< "$(printf '%s\n' "${all[@]}" | sort -n | tr '\n' ' ')"
}
start_program "$program" "Engine Tasks - Tarnivel Runtime"
wait_for_colour "$work/start.png" "$green" || fail "the green point never showed"
point=$box

# Idle, they measure what the machine itself takes (X server, xdotool, Qt).
menu_answers
idle=$middle idle_worst=$worst

# A second alone, then a second beside a handler that waits it out.
menu a
sleep 1.5
menu w
sleep 1.5
menu r
wait_for_line '^counts ' || fail "no counts reported"
read -r _ alone under <<< "$line"
[ "$alone" -gt 0 ] || fail "the task counted nothing alone"
[ $((3 * under)) -ge "$alone" ] || fail "beside a waiting handler the task counted $under, alone $alone"

# A task that counts for ever: the menu still opens, quickly.
menu b
sleep 0.5
menu_answers
# What the task adds: a key waits at most for the time slice the engine runs.
[ $((middle - idle)) -le 100 ] ||
  fail "with a task counting, the menu took $middle ms to open (at worst $worst ms; idle: $idle ms)"
# A menu command runs beside it and its figure is drawn again.
menu c
wait_for_line '^count 2 ' || fail "the Count command did not run beside the task"
[ "$line" = "count 2 spun 1" ] || fail "the background task did not count: $line"
wait_for_change "$work/counted.png" "$green" "$point" || fail "the figure was not drawn again"
# A task that fails while a handler holds on: the task's error goes to
# standard error under the task's own function, no message box shows, and
# the handler runs to its end and delivers its output.
counted=$box
windows=$(xdotool search --onlyvisible --pid "$pid" | wc -l)
menu f
menu h
wait_for_line '^held ' || fail "the handler beside the failing task did not end"
grep -q "Index out of range (_TN_tasks/tasks_fail_later;" "$work/stderr" ||
  fail "the task's error was not reported as its own: $(tail -n 5 "$work/stderr")"
if grep -q "tasks_hold" "$work/stderr"; then fail "the handler was blamed for the task's error"; fi
wait_for_change "$work/held.png" "$green" "$counted" || fail "the handler's output was not drawn"
[ "$(xdotool search --onlyvisible --pid "$pid" | wc -l)" -le "$windows" ] || fail "a message box showed"
close_program
echo "engine_tasks: counts alone $alone, beside a waiting handler $under; with a task counting the menu" \
     "opened in $middle ms (at worst $worst ms), idle in $idle ms (at worst $idle_worst ms)"
