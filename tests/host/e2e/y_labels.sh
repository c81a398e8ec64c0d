#!/usr/bin/env bash
# Long y tick labels in the real program: lines around 987654.3218, flat at
# 7 (whose axis spans a millionth above it), around -123456.8 and up to
# 3e6, each copied with Edit > Copy (Ctrl+C) at three window sizes and read
# back from the clipboard's SVG as another program reads it. No text starts left of the figure (none is cut by the
# window's edge), and each y label, read through the note on the title's
# line (a power of ten that multiplies the labels and an offset added to
# them), is a value of the line's range drawn where that value lies: the
# values step evenly, and their pixels follow them.
#   y_labels.sh PROGRAM WORKDIR
set -euo pipefail
program=$1 work=$2
name=y_labels
source "$(dirname "$0")/x11_session.sh"


# The texts of the copied SVG, one a line: "x y text", in the order drawn.
# Copies until the figure's size or its texts differ from the last copy (at
# most 10 s); leaves them in `texts`.
copied=""
copy_new_texts() {
  local svg="$work/copy.svg" now
  for _ in $(seq 20); do
    focus
    xdotool key ctrl+c
    for _ in $(seq 25); do
      timeout 5 xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -qx 'image/svg+xml' && break
      sleep 0.2
    done
    timeout 5 xclip -selection clipboard -t image/svg+xml -o > "$svg" || fail "Ctrl+C put no SVG on the clipboard"
    texts=$(tr -d '\n' < "$svg" | grep -o '<text [^>]*>[^<]*</text>' |
              sed -n 's/.* x="\([-0-9.]*\)" y="\([-0-9.]*\)".*> *\([^<]*\)<\/text>$/\1 \2 \3/p')
    now="$(grep -o 'viewBox="[^"]*"' "$svg")|$texts"
    if [ -n "$texts" ] && [ "$now" != "$copied" ]; then copied=$now; return 0; fi
    sleep 0.5
  done
  fail "the copied figure did not change"
}

# $1: what is shown; $2, $3: the line's range. The note shares the title's
# baseline, the x labels the lowest one; the other texts are the y labels.
check_y_labels() {
  local title_y bottom_y note power offset rows bad
  [ -z "$(awk '$1 < 0' <<< "$texts")" ] || fail "$1: texts start left of the figure: $(awk '$1 < 0' <<< "$texts" | tr '\n' ';')"
  title_y=$(awk '$3 == "Y" && $4 == "Labels" { print $2 }' <<< "$texts")
  [ -n "$title_y" ] || fail "$1: no title"
  bottom_y=$(awk 'BEGIN { m = -1 } $2 > m { m = $2 } END { print m }' <<< "$texts")
  note=$(awk -v y="$title_y" '$2 == y && $3 != "Y" { $1 = ""; $2 = ""; sub(/^ */, ""); print }' <<< "$texts")
  # "×1e-3 +987654.32": the power, then the offset, each may be missing.
  power=$(sed -n 's/^\xC3\x971e\(-\{0,1\}[0-9]*\).*$/\1/p' <<< "$note")
  offset=$(sed -n 's/^\(\xC3\x971e-\{0,1\}[0-9]* *\)\{0,1\}\([-+][0-9.e-]*\)$/\2/p' <<< "$note")
  [ -z "$note" ] || [ -n "$power$offset" ] || fail "$1: the note \"$note\" reads as neither power nor offset"
  rows=$(awk -v t="$title_y" -v b="$bottom_y" -v p="${power:-0}" -v o="${offset:-0}" \
           '$2 != t && $2 != b { printf "%s %.17g %s\n", $2, $3 * 10 ^ p + o, $3 }' <<< "$texts")
  [ "$(wc -l <<< "$rows")" -ge 2 ] || fail "$1: fewer than two y labels: $(tr '\n' ';' <<< "$texts")"
  bad=$(awk -v lo="$2" -v hi="$3" '
    { y[NR] = $1; v[NR] = $2; t[NR] = $3 }
    END {
      span = hi - lo
      for (i = 1; i <= NR; ++i)
        if (v[i] < lo - 0.1 * span || v[i] > hi + 0.1 * span) { print "\"" t[i] "\" reads " v[i] ", outside the line"; exit }
      step = v[2] - v[1]
      if (!(step > 0)) { print "the labels do not increase upward"; exit }
      for (i = 2; i <= NR; ++i) {
        d = v[i] - v[i - 1] - step; if (d < 0) d = -d
        if (d > 1e-3 * step) { print "uneven step at \"" t[i] "\""; exit }
        at = y[1] + (v[i] - v[1]) * (y[NR] - y[1]) / (v[NR] - v[1]); d = at - y[i]; if (d < 0) d = -d
        if (d > 1.5) { print "\"" t[i] "\" is drawn " d " pixels off its value"; exit }
      }
    }' <<< "$rows")
  [ -z "$bad" ] || fail "$1: $bad (note \"$note\"; labels $(awk '{ print $3 }' <<< "$rows" | tr '\n' ' '))"
  echo "$1 (figure $(sed -n 's/.*viewBox="0 0 \([0-9]*\) \([0-9]*\)".*/\1 x \2/p' "$work/copy.svg")):" \
       "note \"$note\", labels $(awk '{ print $3 }' <<< "$rows" | tr '\n' ' ')"
}

resize() {
  xdotool windowsize --sync "$wid" "$1" "$2" 2>/dev/null || xdotool windowsize "$wid" "$1" "$2"
  sleep 0.5
}

start_program "$program" "Y Labels - Tarnivel Runtime"
wait_for_colour "$work/first.png" "#0000FF" || fail "the line never showed"
lines=("around 987654.3218:987654.3218:987654.3238" "flat at 7:7:7.000001" "around -123456.8:-123456.83:-123456.78"
       "up to 3e6:0:3000000")
for k in "${!lines[@]}"; do
  IFS=: read -r what lo hi <<< "${lines[k]}"
  if [ "$k" -gt 0 ]; then focus; xdotool key alt+p; sleep 0.3; xdotool key n; fi
  for size in "800 600" "1200 900" "480 360"; do
    read -r w h <<< "$size"
    resize "$w" "$h"
    copy_new_texts
    check_y_labels "$what at $w x $h" "$lo" "$hi"
  done
done
close_program
echo "y_labels: every y label lies within the figure and reads the value it is drawn at"
