#!/usr/bin/env bash
# Closing with a large settings file: 200,000 keys the program does not know
# (3 MB), half in its own group and half in another, beside its own keys.
# Alt+F4 saves the window's placement, the bar state and the number format;
# the file is rewritten once for all of them in the whole run (the writes
# counted by inotify, from before the start to after the end), every key the
# user had is still there with its value, and the program's own keys are
# saved. The close's wall time is printed, not judged.
#   settings_close.sh PROGRAM FILE_WRITES WORKDIR
set -euo pipefail
program=$1 file_writes=$2 work=$3
name=settings_close
source "$(dirname "$0")/x11_session.sh"
title="Untitled - Tarnivel Runtime"
config="$XDG_CONFIG_HOME/Brelvon"
ini="$config/Tarnivel Runtime.ini"
keys=200000
watcher=""
trap '[ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; [ -n "$watcher" ] && kill "$watcher" 2>/dev/null; true' EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Every "group/key=value" line of the settings file, sorted.
entries() {
  awk '/^\[.*\]$/ { group = substr($0, 2, length($0) - 2); next } /=/ { print group "/" $0 }' "$1" | LC_ALL=C sort
}
# Starts the program, watches its settings file's writes, closes the program
# with Alt+F4; leaves the count in `writes` and the close's time in `close_ms`.
run_once() {
  "$file_writes" "$config" "Tarnivel Runtime.ini" > "$work/writes" &
  watcher=$!
  for _ in $(seq 100); do
    grep -q '^ready$' "$work/writes" 2>/dev/null && break
    sleep 0.1
  done
  grep -q '^ready$' "$work/writes" || fail "the write counter did not start"
  start_program "$program" "$title"
  sleep 1
  local start
  start=$(now_ms)
  # Rewriting 3 MB of settings takes a loaded sanitizer run many seconds.
  close_program 90
  close_ms=$(($(now_ms) - start))
  kill -TERM "$watcher"
  wait "$watcher" || fail "the write counter failed"
  watcher=""
  writes=$(sed -n 's/^writes \([0-9]*\)$/\1/p' "$work/writes")
  [ -n "$writes" ] || fail "no count of writes"
}

# A clean settings file, for the time printed beside the large one's.
run_once
clean_ms=$close_ms
[ "$writes" -eq 1 ] || fail "a clean close wrote the settings file $writes times"

{
  printf '[1.0]\nInteractiveHilight=0\nUserNote=kept as written\n'
  seq 1 $((keys / 2)) | awk '{ printf "k%06d=%d\n", $1, $1 * 7 }'
  printf '[Elsewhere]\n'
  seq 1 $((keys / 2)) | awk '{ printf "k%06d=v%d\n", $1, $1 }'
} > "$ini"
entries "$ini" | grep -v '^1\.0/InteractiveHilight=' > "$work/before"
run_once
entries "$ini" > "$work/after"
[ "$writes" -eq 1 ] || fail "the close wrote the settings file $writes times"
missing=$(LC_ALL=C comm -23 "$work/before" "$work/after" | wc -l)
[ "$missing" -eq 0 ] || fail "$missing of the user's keys were lost or changed, the first: $(LC_ALL=C comm -23 "$work/before" "$work/after" | head -n 1)"
for key in BarSettings WindowLeft WindowBottom FormatType FormatNDigits; do
  grep -q "^1\.0/$key=" "$work/after" || fail "$key was not saved"
done
echo "settings_close: one write at close; $keys keys kept; close ${close_ms} ms against ${clean_ms} ms clean"
