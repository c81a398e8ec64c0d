# Shots of the figure area, sourced by the end-to-end scripts after
# x11_session.sh: where the figure's background lies, how many of its pixels
# two shots differ in, and waits for a redraw to begin or to end.
# The script sets `background` (the figure's background colour) and `work`.

# Zip-compressed MIFF: shot and compared several times faster than PNG.
shot() { import -window root -compress zip "$1"; }

# The box "W H X Y" of the figure's background within the part $2 of shot
# $1 (a black border keeps a corner of that colour from being taken as
# what to trim).
background_box() {
  local w h x y
  read -r w h x y <<< "$(convert "$1" -crop "$2" +repage -bordercolor black -border 1 -fill black \
    +opaque "$background" -format '%@' info: | sed -n 's/^\([0-9]*\)x\([0-9]*\)+\([0-9]*\)+\([0-9]*\)$/\1 \2 \3 \4/p')"
  [ -n "${w:-}" ] && echo "$w $h $((x - 1)) $((y - 1))"
}
# The figure area ("WxH+X+Y"), without the tool bar (its Undo and Redo
# buttons change) and the status bar: the rows of the background in a
# column near the window's left edge, and its columns in the middle row.
figure_area() {
  local w h x y top height left width
  read -r w height x top <<< "$(background_box "$1" 1x4000+3+0)"
  [ -n "${height:-}" ] || fail "no figure background in $1"
  read -r width h left y <<< "$(background_box "$1" "8000x1+0+$((top + height / 2))")"
  [ -n "${width:-}" ] || fail "no figure background in $1"
  area="${width}x${height}+${left}+${top}" cx=$((left + width / 2)) cy=$((top + height / 2))
}
# The number of pixels of the figure area in which two shots differ.
apart() {
  local d
  d=$(compare -metric AE -crop "$area" "$1" "$2" null: 2>&1 || true)
  echo "${d%% *}"
}
# Shoots again into $1, already shot, until two shots in a row agree (the
# redraw is over).
settle() {
  for _ in $(seq 20); do
    sleep 0.05
    shot "$work/settle.miff"
    [ "$(apart "$1" "$work/settle.miff")" -eq 0 ] && return 0
    mv "$work/settle.miff" "$1"
  done
}
# Shoots into $1 until it differs from $2, then until it settles.
wait_for_other() {
  for _ in $(seq 60); do
    shot "$1"
    [ "$(apart "$1" "$2")" -gt 0 ] && { settle "$1"; return 0; }
    sleep 0.1
  done
  return 1
}
# Shoots into $1 until it is $2 again (at most 6 s); the pixels of the last
# try that differ are left in `differ`.
wait_for_same() {
  for _ in $(seq 60); do
    shot "$1"
    differ=$(apart "$1" "$2")
    [ "$differ" -eq 0 ] && return 0
    sleep 0.1
  done
  return 1
}
