#!/usr/bin/env bash
# Differential run: COUNT generated programs through two zvr binaries at
# optimisation levels 0 and 4; standard output, standard error and exit
# status must match byte for byte. Prints the programs that differ (and
# copies them to $KEEP when it names a directory).
# GEN names another generator beside this script (generate_calls.py: calls
# and scalar loops).
# Usage: [GEN=generate_calls.py] tests/differential/run.sh OLD_ZVR NEW_ZVR [COUNT] [SEED]
set -u
old=$1 new=$2 count=${3:-1500} seed=${4:-15}
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
python3 "$here/${GEN:-generate.py}" "$dir" "$count" "$seed"
# One program at both levels through both binaries; prints a line when they differ.
one() {
  local p=$1 old=$2 new=$3 level
  for level in 0 4; do
    timeout 60 "$old" -O "$level" "$p" >"$p.a$level" 2>&1; echo "status $?" >>"$p.a$level"
    timeout 60 "$new" -O "$level" "$p" >"$p.b$level" 2>&1; echo "status $?" >>"$p.b$level"
    if ! cmp -s "$p.a$level" "$p.b$level"; then
      echo "differs at -O$level: $(basename "$p")"
      [ -n "${KEEP:-}" ] && cp "$p" "$KEEP/"
    fi
  done
}
export -f one
ls "$dir"/p*.zvr | xargs -P 4 -I{} bash -c 'one "$@"' _ {} "$old" "$new" >"$dir/report"
cat "$dir/report"
differ=$(grep -c differs "$dir/report")
echo "$count programs at -O0 and -O4: $differ runs differ"
[ "$differ" -eq 0 ]
