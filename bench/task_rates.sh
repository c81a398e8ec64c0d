#!/usr/bin/env bash
# Loop turns per CPU second with engine tasks about, in the real program and
# in zvr: 2e7 turns of `while k < n, k = k + 1, end` in a menu handler, alone
# and beside a task that only sleeps, in a task alone in the window (run by
# the frame's ticks), and in zvr in the main script and in a task. The
# program's CPU time is read from /proc around each count (its idle window
# costs next to nothing); zvr's empty run is subtracted.
#   bench/task_rates.sh BUILD_DIR   (needs xvfb-run and xdotool)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
turns=20000000
ticks=$(getconf CLK_TCK)
cpu() { awk -v t="$ticks" '{ print ($14 + $15) / t }' "/proc/$1/stat"; }
rate() { awk -v n="$turns" -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", n / (b - a) / 1e6 }'; }

# The window's part, run again in the X server that xvfb-run starts.
window() {
  export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data QT_QPA_PLATFORM=xcb
  "$work/taskrates" 2> "$work/stderr" &
  local pid=$!
  local wid
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^Task Rates - Tarnivel Runtime\$" | head -n 1)
  menu() { xdotool windowfocus --sync "$wid" || true; xdotool key alt+r; sleep 0.3; xdotool key "$1"; }
  wait_for() { until [ "$(grep -c "$1" "$work/stderr")" -ge "$2" ]; do sleep 0.05; done; }
  sleep 1
  local a b
  a=$(cpu "$pid"); menu c; wait_for '^counted' 1; b=$(cpu "$pid")
  echo "handler alone: $(rate "$a" "$b") M turns per CPU second"
  menu s; sleep 0.5
  a=$(cpu "$pid"); menu c; wait_for '^counted' 2; b=$(cpu "$pid")
  echo "handler beside a sleeping task: $(rate "$a" "$b") M"
  kill "$pid"; wait "$pid" 2>/dev/null || true
  "$work/taskrates" 2> "$work/stderr" &
  pid=$!
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^Task Rates - Tarnivel Runtime\$" | head -n 1)
  sleep 1
  a=$(cpu "$pid"); menu t; wait_for '^task counted' 1; b=$(cpu "$pid")
  echo "task in the window: $(rate "$a" "$b") M"
  kill "$pid"; wait "$pid" 2>/dev/null || true
}
if [ "${2:-}" = --window ]; then
  work=$3
  window
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/tnpack" "$here/taskrates/taskrates.tnd" "$build/bin/tarnivel" "$work/taskrates"
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$build" --window "$work"

# zvr's CPU seconds for a script file.
zvr_cpu() { /usr/bin/time -f "%U %S" "$build/bin/zvr" "$1" 2>&1 >/dev/null | tail -n 1 | awk '{ print $1 + $2 }'; }
printf 'k = 0;\n' > "$work/empty.zvr"
printf 'n = %d;\nk = 0;\nwhile k < n\n  k = k + 1;\nend\n' "$turns" > "$work/main.zvr"
printf 'function spin(n, s)\n  k = 0;\n  while k < n\n    k = k + 1;\n  end\n  semaphoreunlock(s);\nendfunction\n%s\n' \
  "s = semaphorenew(); semaphorelock(s); threadnew(@spin, threadset(), $turns, s); semaphorelock(s);" > "$work/task.zvr"
empty=$(zvr_cpu "$work/empty.zvr")
main=$(zvr_cpu "$work/main.zvr")
task=$(zvr_cpu "$work/task.zvr")
echo "zvr main script: $(rate "$empty" "$main") M; zvr task beside the main script waiting on a semaphore: $(rate "$empty" "$task") M"
