#!/usr/bin/env bash
# Differential run of the script suite: every tests/scripts/<topic>/<name>.zvr
# through two zvr binaries at -O0, at -O4 and at -O4 relocated (the block
# moved after every slice, in a 4 MB block); standard output, standard error
# and exit status must match byte for byte, whatever the .out files say.
# Input and debugger commands are fed as run_script.sh feeds them; the
# scripts that CMakeLists.txt keeps from the relocated run skip it here too.
# Usage: tests/differential/scripts.sh OLD_ZVR NEW_ZVR
set -u
old=$1 new=$2
here=$(cd "$(dirname "$0")" && pwd)
scripts=$(cd "$here/../scripts" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The names inside set(zvr_scripts_not_relocated ...), comments left out.
not_relocated=" $(sed -n '/set(zvr_scripts_not_relocated/,/)/p' "$scripts/CMakeLists.txt" |
  sed 's/#.*//; s/set(zvr_scripts_not_relocated//; s/)//' | tr -s ' \n' ' ') "
one() {
  local script=$1 old=$2 new=$3 out=$4 run args base input tag rel runs
  base=${script%.zvr}
  rel=${base#"$5"/}
  runs=("0" "4" "4 --relocate -m 4")
  [[ "$6" == *" $rel "* ]] && runs=("0" "4")
  input=/dev/null
  [ -f "$base.in" ] && input=$base.in
  debug=()
  [ -f "$base.dbg" ] && debug=(-d "$(cat "$base.dbg")")
  tag=$(echo "$base" | tr / _)
  cd "$(dirname "$script")" || exit 2
  for run in "${runs[@]}"; do
    read -r -a args <<<"-O $run"
    for side in old new; do
      bin=$old; [ $side = new ] && bin=$new
      timeout 120 "$bin" "${args[@]}" "${debug[@]}" "$(basename "$script")" <"$input" >"$out/$tag.$side" 2>&1
      echo "status $?" >>"$out/$tag.$side"
    done
    cmp -s "$out/$tag.old" "$out/$tag.new" || echo "differs at ${args[*]}: $rel"
  done
}
export -f one
find "$scripts" -name '*.zvr' | sort | xargs -P 4 -I{} bash -c 'one "$@"' _ {} "$old" "$new" "$out" "$scripts" "$not_relocated" \
  >"$out/report"
cat "$out/report"
count=$(find "$scripts" -name '*.zvr' | wc -l)
differ=$(grep -c differs "$out/report")
echo "$count scripts at -O0, -O4 and -O4 relocated: $differ runs differ"
[ "$differ" -eq 0 ]
