#!/usr/bin/env bash
# A damaged tool-bar state in the settings, as the program meets it at its
# next start: the program's own saved state with the bar's flags byte set to
# 7 and its packed geometry all ones (a floating bar of 32,767 pixels each
# way), and the same with its place and preferred length at 2^31 - 1. The
# window must show, its memory stay near what the undamaged start took
# (VmHWM, read from /proc while it runs; the run is stopped the moment it
# passes the bound), and Alt+F4 must end it. Every wait is bounded.
#   bar_settings.sh PROGRAM WORKDIR
set -euo pipefail
program=$1 work=$2
name=bar_settings
source "$(dirname "$0")/x11_session.sh"
title="Untitled - Tarnivel Runtime"
ini="$XDG_CONFIG_HOME/Brelvon/Tarnivel Runtime.ini"
# Memory a damaged start may take beyond the undamaged one (kB): far below
# the gigabytes a screen-sized floating bar's backing store takes.
slack_kb=$((150 * 1024))

peak_kb() { sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB$/\1/p' "/proc/$pid/status" 2>/dev/null || true; }
# Watches the running program for $1 seconds: fails as soon as its peak
# passes $2 kB, or when it ends by itself.
watch_peak() {
  local peak
  for _ in $(seq $(($1 * 10))); do
    kill -0 "$pid" 2>/dev/null || fail "the program ended by itself ($(tail -n 3 "$work/stderr"))"
    peak=$(peak_kb)
    if [ "${peak:-0}" -gt "$2" ]; then
      kill -9 "$pid" 2>/dev/null || true
      pid=""
      fail "$3: memory peak ${peak} kB passed ${2} kB"
    fi
    sleep 0.1
  done
}

# The program's own state: one start and close leave it in the settings.
start_program "$program" "$title"
sleep 2
own_kb=$(peak_kb)
[ -n "$own_kb" ] || fail "no VmHWM for the running program"
close_program
# The settings file holds the value quoted: base64 ends in "=".
own=$(sed -n 's/^BarSettings="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$ini")
[ -n "$own" ] || fail "no bar state saved in $ini"
printf '%s' "$own" | base64 -d > "$work/own.bin" || fail "the saved bar state is not base64: $own"
# The bar's flags byte follows its name, "ToolBar" in UTF-16 (big-endian).
name_at=$(LC_ALL=C grep -obUaP '\x00T\x00o\x00o\x00l\x00B\x00a\x00r' "$work/own.bin" | head -n 1 | cut -d: -f1)
[ -n "$name_at" ] || fail "no tool bar named ToolBar in the saved state"
flags_at=$((name_at + 14))
[ "$(od -An -tu1 -j "$flags_at" -N1 "$work/own.bin" | tr -d ' ')" = 1 ] || fail "the tool bar was not saved shown and docked"

# Writes the bytes $1 (hex, blank-separated) at offset $2 of the damaged copy.
damage() {
  local at=$2
  for byte in $1; do
    printf "\\x$byte" | dd of="$work/damaged.bin" bs=1 seek="$at" conv=notrunc status=none
    at=$((at + 1))
  done
}
store_damaged() {
  local value
  value=$(base64 -w0 "$work/damaged.bin")
  sed -i "s|^BarSettings=.*|BarSettings=\"$value\"|" "$ini"
}

ff4="ff ff ff ff" big="7f ff ff ff"
for case in geometry place; do
  # Flags 7 and a geometry of all ones; then also place and length 2^31 - 1.
  cp "$work/own.bin" "$work/damaged.bin"
  damage "07" "$flags_at"
  damage "$ff4 $ff4" $((flags_at + 9))
  if [ "$case" = place ]; then damage "$big $big" $((flags_at + 1)); fi
  store_damaged
  start_program "$program" "$title"
  watch_peak 4 $((own_kb + slack_kb)) "$case"
  close_program
done
echo "bar_settings: damaged bar states leave memory at ${own_kb} kB + at most ${slack_kb} kB and Alt+F4 works"
