#!/usr/bin/env bash
# Tick labels of many digits in the real program: a curve on a narrow range
# around 123456.7, a 3-D curve whose y runs around 1e6 and a log-log curve
# over 24 decades, each at 800 x 600 and at 1200 x 900, copied with Edit >
# Copy (Ctrl+C) and read back from the clipboard's SVG. Each label is
# measured in the font the SVG names, at its size; no two labels drawn one
# after the other (the neighbours on an axis) may overlap or touch.
#   long_labels.sh PROGRAM WORKDIR
set -euo pipefail
program=$1 work=$2
name=long_labels
source "$(dirname "$0")/x11_session.sh"


# The numeric texts of the copied SVG, one a line: "x y size family text",
# in the order drawn. Waits (at most 5 s) for the copy to be offered.
copied_labels() {
  local svg="$work/copy.svg"
  for _ in $(seq 25); do
    if timeout 5 xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -qx 'image/svg+xml'; then
      timeout 5 xclip -selection clipboard -t image/svg+xml -o > "$svg"
      tr -d '\n' < "$svg" | grep -o '<text [^>]*>[^<]*</text>' |
        sed -n 's/.* x="\([-0-9.]*\)" y="\([-0-9.]*\)" font-family="\([^"]*\)" font-size="\([0-9.]*\)".*> *\([^<]*\)<\/text>$/\1 \2 \4 \3|\5/p' |
        awk -F'|' '$2 ~ /^-?[0-9]/ { split($1, a, " "); fam = $1; sub(/^[^ ]* [^ ]* [^ ]* /, "", fam);
                                      print a[1], a[2], a[3], fam "|" $2 }'
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# Copies until the figure's size or its labels differ from the last copy
# (at most 10 s); leaves the labels in `labels`.
copied=""
copy_new_labels() {
  local now
  for _ in $(seq 20); do
    focus
    xdotool key ctrl+c
    labels=$(copied_labels) || fail "Ctrl+C put no SVG on the clipboard"
    now="$(grep -o 'viewBox="[^"]*"' "$work/copy.svg")|$labels"
    if [ -n "$labels" ] && [ "$now" != "$copied" ]; then copied=$now; return 0; fi
    sleep 0.5
  done
  fail "the copied figure did not change: $(cut -d'|' -f2 <<< "$labels" | tr '\n' ' ')"
}

# Widths in pixels of the labels' texts, one a line, in their font.
label_widths() {
  local family size file args=()
  family=$(head -n 1 <<< "$labels" | cut -d'|' -f1 | cut -d' ' -f4-)
  size=$(head -n 1 <<< "$labels" | cut -d' ' -f3)
  file=$(fc-match -f '%{file}' "$family")
  while IFS='|' read -r _ text; do args+=(-annotate 0 "$text"); done <<< "$labels"
  convert -font "$file" -pointsize "$size" -density 72 -debug annotate xc: "${args[@]}" null: 2>&1 |
    sed -n 's/.*Metrics: text: .*; width: \([0-9.]*\);.*/\1/p'
}

# $1: what is shown. Every two labels drawn one after the other either lie
# on rows a font size apart or leave at least one pixel between them.
check_apart() {
  local widths n
  widths=$(label_widths)
  n=$(wc -l <<< "$labels")
  [ "$n" -ge 4 ] || fail "$1: only $n labels: $(cut -d'|' -f2 <<< "$labels" | tr '\n' ' ')"
  [ "$(wc -l <<< "$widths")" -eq "$n" ] || fail "$1: could not measure the labels"
  local bad
  bad=$(paste -d' ' <(cut -d' ' -f1-3 <<< "$labels") <(cut -d'|' -f2 <<< "$labels") <(echo "$widths") |
    awk '{ x = $1; y = $2; s = $3; t = $4; w = $5
           if (NR > 1 && (y - py < s && py - y < s) && x < px + pw + 1 && px < x + w + 1)
             print "\"" pt "\" and \"" t "\""
           px = x; py = y; pt = t; pw = w }')
  [ -z "$bad" ] || fail "$1: labels touch: $(tr '\n' ' ' <<< "$bad")"
  echo "$1 (figure $(sed -n 's/.*viewBox="0 0 \([0-9]*\) \([0-9]*\)".*/\1 x \2/p' "$work/copy.svg")):" \
       "$(cut -d'|' -f2 <<< "$labels" | tr '\n' ' ')"
}

# Sizes the window to $1 x $2; the figure area follows.
resize() {
  xdotool windowsize --sync "$wid" "$1" "$2" 2>/dev/null || xdotool windowsize "$wid" "$1" "$2"
  sleep 0.5
}

start_program "$program" "Long Labels - Tarnivel Runtime"
wait_for_colour "$work/first.png" "#0000FF" || fail "the curve never showed"
resize 800 600
copy_new_labels
check_apart "offset curve at 800 x 600"
resize 1200 900
copy_new_labels
check_apart "offset curve at 1200 x 900"
focus; xdotool key alt+p; sleep 0.3; xdotool key n
copy_new_labels
check_apart "3-D curve at 1200 x 900"
resize 800 600
copy_new_labels
check_apart "3-D curve at 800 x 600"
focus; xdotool key alt+p; sleep 0.3; xdotool key n
copy_new_labels
check_apart "log-log curve at 800 x 600"
resize 1200 900
copy_new_labels
check_apart "log-log curve at 1200 x 900"
close_program
echo "long_labels: no two neighbouring labels touch"
