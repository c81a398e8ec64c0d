#!/usr/bin/env bash
# The tick labels a user gets out of the real program: the figure of a damped
# cosine copied with Edit > Copy (Ctrl+C) in an X server, its SVG read back
# from the clipboard as another program reads it. The y labels run through
# 0.1 and -0.1 written so, not as "1e-1", and every label is a plain number
# in its short form.
#   tick_labels.sh PROGRAM WORKDIR
set -euo pipefail
program=$1 work=$2
name=tick_labels
source "$(dirname "$0")/x11_session.sh"

# The texts of the SVG on the clipboard, one a line; waits (at most 5 s)
# for the copy to be offered.
copied_texts() {
  local svg="$work/copy.svg"
  for _ in $(seq 25); do
    if timeout 5 xclip -selection clipboard -t TARGETS -o 2>/dev/null | grep -qx 'image/svg+xml'; then
      timeout 5 xclip -selection clipboard -t image/svg+xml -o > "$svg"
      tr -d '\n' < "$svg" | grep -o '>[^<>]*</text>' | sed 's/^ *>//; s/<\/text>$//'
      return 0
    fi
    sleep 0.2
  done
  return 1
}

check_copied_labels() {
  local texts labels
  texts=$(copied_texts) || fail "Ctrl+C put no SVG on the clipboard"
  labels=$(grep -E '^-?[0-9]' <<< "$texts" || true)
  [ -n "$labels" ] || fail "the copied figure has no tick labels"
  for want in 0.1 -0.1 0.5 1; do
    grep -qx -- "$want" <<< "$labels" || fail "no label \"$want\" in the copy: $(tr '\n' ' ' <<< "$labels")"
  done
  # Shortest plain numbers: no exponent in this range, no trailing zeros,
  # no "-0", no digits of binary noise.
  local bad
  bad=$(grep -vxE -- '-?(0|[1-9][0-9]*)(\.[0-9]{0,3}[1-9])?' <<< "$labels" || true)
  if grep -qx -- '-0' <<< "$labels"; then bad+=" -0"; fi
  [ -z "$bad" ] || fail "labels not in their short form: $(tr '\n' ' ' <<< "$bad")"
}

start_program "$program" "Tick Labels - Tarnivel Runtime"
wait_for_colour "$work/first.png" "#0000FF" || fail "the curve never showed"
timeout 10 xdotool windowfocus --sync "$wid" || true
xdotool key ctrl+c
check_copied_labels
close_program
echo "tick_labels: the copied figure's labels read 0.1 and -0.1"
