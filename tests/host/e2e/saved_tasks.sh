#!/usr/bin/env bash
# Tasks alive in an application's image, in the real program: the packed
# application opens with its title and its three tasks (one sleeping, one
# waiting on a semaphore, one that lets it go) run to their ends. The same
# program with its image damaged (a checksum byte of its first chunk)
# opens untitled and says on standard error why the application was refused,
# and so does the program with its trailer lost.
#   saved_tasks.sh LIVETASKS_PROGRAM WORKDIR
set -euo pipefail
program=$1 work=$2
name=saved_tasks
source "$(dirname "$0")/x11_session.sh"
# Waits (at most 10 s) for a whole line of standard error.
wait_for_line() {
  for _ in $(seq 100); do
    grep -qxF "$1" "$work/stderr" && return 0
    sleep 0.1
  done
  return 1
}
start_program "$program" "Live Tasks - Tarnivel Runtime"
for line in ran waited slept; do
  wait_for_line "$line" || fail "the task that says '$line' did not run: $(cat "$work/stderr")"
done
close_program

# The little-endian word at a byte position of the damaged copy.
damaged=$work/damaged
cp "$program" "$damaged"
word() { od -An -tu4 -j "$1" -N4 "$damaged" | tr -d ' '; }
block=$(word $(($(stat -c %s "$damaged") - 4)))
chunk=$((block + 4 + $(word "$block") + 1))
at=$((chunk + 4 + $(word "$chunk") - 1))
byte=$(od -An -tu1 -j "$at" -N1 "$damaged" | tr -d ' ')
printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$damaged" bs=1 seek="$at" conv=notrunc status=none
start_program "$damaged" "Untitled - Tarnivel Runtime"
for _ in $(seq 50); do
  [ -s "$work/stderr" ] && break
  sleep 0.1
done
said=$(grep -F "the application appended to this program was not loaded" "$work/stderr" || true)
[ "$said" = "$damaged: the application appended to this program was not loaded: status 305, End of file" ] ||
  fail "the refusal was not told: $(cat "$work/stderr")"
close_program

# The same program with its trailer lost (its last 4 bytes cut off): the
# end of the last chunk reads as a block offset, and the refusal says so.
lost=$work/lost
head -c -4 "$program" > "$lost"
chmod +x "$lost"
start_program "$lost" "Untitled - Tarnivel Runtime"
for _ in $(seq 50); do
  [ -s "$work/stderr" ] && break
  sleep 0.1
done
told=$(grep -F "the application appended to this program was not loaded: the " "$work/stderr" || true)
case "$told" in
  "$lost: the application appended to this program was not loaded: the "*) ;;
  *) fail "the lost trailer was not told: $(cat "$work/stderr")" ;;
esac
close_program
echo "saved_tasks: the tasks ran after start-up; a damaged copy said: $said; one without its trailer: $told"
