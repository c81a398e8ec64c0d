# Shared by the end-to-end scripts (sourced, not run): the program started in
# the X server with its own settings, its window found by its title,
# screenshots and the boxes of the pixels of one colour, and a bounded close.
# The caller sets `work` and `name` (used in messages) before sourcing.

mkdir -p "$work"
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
rm -rf "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
# Figures that take the mouse draw red axes while the highlight preference is
# on, and the tests find their points by colour, red among them.
mkdir -p "$XDG_CONFIG_HOME/Brelvon"
printf '[1.0]\nInteractiveHilight=0\n' > "$XDG_CONFIG_HOME/Brelvon/Tarnivel Runtime.ini"
# Under the X11 plugin libdbus keeps one block at exit.
printf 'leak:libdbus-1\n' > "$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export QT_QPA_PLATFORM=xcb
pid=""
# A script that ends early, whatever the cause, leaves no program behind: a
# program left running keeps its file busy for the next run's packing.
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; true' EXIT

fail() { echo "$name: $*" >&2; [ -n "$pid" ] && kill "$pid" 2>/dev/null; exit 1; }
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
# Shoots into $2 until the colour $3 shows (at most 10 s); its box is left in
# `box`.
wait_for_colour() {
  box=""
  for _ in $(seq 50); do
    shot "$1"
    box=$(colour_box "$1" "$2")
    [ -n "$box" ] && return 0
    sleep 0.2
  done
  return 1
}
# Shoots into $1 until the colour $2 has a box other than $3 (none counts as
# other when $4 is "gone"); the new box is left in `box`.
wait_for_change() {
  for _ in $(seq 50); do
    shot "$1"
    box=$(colour_box "$1" "$2")
    if [ "${4:-}" = gone ]; then [ -z "$box" ] && return 0
    elif [ -n "$box" ] && [ "$box" != "$3" ]; then return 0
    fi
    sleep 0.2
  done
  return 1
}
# Starts the program $1, with the arguments after $2, and waits for its
# window titled $2 (a loaded sanitizer run can take most of a minute to show
# it).
start_program() {
  "$1" "${@:3}" > "$work/stdout" 2> "$work/stderr" &
  pid=$!
  wid=$(timeout 90 xdotool search --sync --onlyvisible --name "^$2\$" | head -n 1) || fail "no window titled '$2'"
  timeout 10 xdotool windowfocus --sync "$wid" || true
}
# Alt+F4 and a wait (for $1 seconds, 10 unless given) for the program's end
# with status 0.
close_program() {
  timeout 10 xdotool windowfocus --sync "$wid" || true
  xdotool key alt+F4
  for _ in $(seq $((${1:-10} * 10))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then fail "Alt+F4 did not end the program"; fi
  local status=0
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { cat "$work/stderr" >&2; fail "exit status $status"; }
  pid=""
}
# Gives the program's window the keyboard focus.
focus() { timeout 10 xdotool windowfocus --sync "$wid" || true; }
# How many lines of standard error begin with $1.
lines() { grep -c "^$1" "$work/stderr" || true; }
# Waits (at most 60 s: a loaded sanitizer run is slow) until standard error
# holds more than $2 lines beginning with $1.
wait_lines() {
  for _ in $(seq 300); do
    [ "$(lines "$1")" -gt "$2" ] && return 0
    sleep 0.2
  done
  return 1
}
