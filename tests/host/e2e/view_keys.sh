#!/usr/bin/env bash
# Keys in the real window, driven with xdotool. A catch-all key handler runs
# once for each press, also for a Tab it fails on; the keys the menus bind
# (Undo's Ctrl+Z, Redo's Ctrl+Shift+Z) are their commands', enabled or not,
# and never reach it; Alt with a letter or Return reaches it not at all.
# Without key handlers, Alt with a letter is no figure shortcut: Alt+K and
# Alt+M leave the layout as it is, K alone adds a row.
#   view_keys.sh KEYS_PROGRAM NOKEYS_PROGRAM WORKDIR
set -euo pipefail
keys=$1 nokeys=$2 work=$3
name=view_keys
source "$(dirname "$0")/x11_session.sh"
blue="#0000FF"

last() { grep "^$1" "$work/stderr" | tail -n 1; }
# Waits (at most 10 s) until the last line beginning with $1 is $2.
wait_last() {
  for _ in $(seq 50); do
    [ "$(last "$1")" = "$2" ] && return 0
    sleep 0.2
  done
  return 1
}
# The codes the key handler told, on one line.
told() { grep '^key' "$work/stderr" | cut -d' ' -f2 | tr '\n' ' ' | sed 's/ $//'; }

# ---- A catch-all key handler ------------------------------------------------
start_program "$keys" "Keys - Tarnivel Runtime"
wait_lines plot 0 || fail "the first plot never ended"
focus
# Nothing to undo or redo: Undo's and Redo's keys are disabled commands'.
# The letter after them is handled after them.
xdotool key ctrl+z ctrl+shift+z a
wait_lines key 0 || fail "no key reached the handler"
wait_last plot "plot 1" || fail "the counted key was not plotted: '$(last plot)'"
[ "$(told)" = 97 ] || fail "with nothing to undo or redo the key handler had '$(told)', not '97'"
# Now they undo and redo the count, and still reach no handler.
xdotool key ctrl+z
wait_last plot "plot 0" || fail "Ctrl+Z did not undo the counted key: '$(last plot)'"
xdotool key ctrl+shift+z
wait_last plot "plot 1" || fail "Ctrl+Shift+Z did not redo the counted key: '$(last plot)'"
# Tab and Shift+Tab, refused by the handler, run it once each; Alt with a
# letter or Return not at all; the letter b closes the row.
xdotool key Tab shift+Tab alt+q alt+Return alt+k b
wait_lines key 3 || fail "the closing key never came: '$(told)'"
wait_last key "key 98" || fail "the closing key never came: '$(told)'"
[ "$(told)" = "97 9 9 98" ] || fail "the key handler had '$(told)', not '97 9 9 98'"
[ "$(lines 'no Tab here')" -eq 2 ] || fail "the two refused Tabs gave $(lines 'no Tab here') error reports"
got_keys=$(told)
cp "$work/stderr" "$work/keys.stderr"
close_program

# ---- No key handlers: the figure shortcuts ----------------------------------
# The blue line lies across the figure's one subplot; a row more (K) moves
# it up, a column more (M) shortens it.
start_program "$nokeys" "No Keys - Tarnivel Runtime"
wait_lines plotted 0 || fail "the first plot never ended"
wait_for_colour "$work/n0.miff" "$blue" || fail "the line never showed"
first=$box
focus
xdotool key alt+k alt+m
# The layout would change within a few milliseconds of the keys: a second of
# shots that all show the line where it was.
for k in $(seq 5); do
  sleep 0.2
  shot "$work/n1.miff"
  box=$(colour_box "$work/n1.miff" "$blue")
  [ "$box" = "$first" ] || fail "after Alt+K and Alt+M the line is at '$box', not '$first' (W H X Y)"
done
xdotool key k
wait_for_change "$work/n2.miff" "$blue" "$first" || fail "K did not move the line from '$first'"
read -r w0 h0 x0 y0 <<< "$first"
read -r w h x y <<< "$box"
[ "$w" -eq "$w0" ] && [ "$y" -lt "$y0" ] || fail "after K the line is at '$box', not above '$first' as long"
close_program
echo "$name: keys $got_keys; Alt+K and Alt+M left the layout, K added a row"
