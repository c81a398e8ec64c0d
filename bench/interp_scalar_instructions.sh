#!/usr/bin/env bash
# Instructions per loop iteration of the scalar series and of the escape-time
# grid of bench/interp, beside Lua 5.4's: each kernel at two sizes under
# callgrind, the counts subtracted, so that start-up and the code around the
# loop drop out (the series runs 200,000 more terms; the grid's difference is
# divided by the difference in its printed total of inner iterations, so the
# work per grid point is spread over them). bench/interp_instructions.sh does
# the same for fib and the nested loops.
# Usage: bench/interp_scalar_instructions.sh   (ZVR=path measures another zvr)
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { echo "interp_scalar_instructions.sh: valgrind is needed" >&2; exit 1; }
command -v lua5.4 >/dev/null || { echo "interp_scalar_instructions.sh: lua5.4 is needed" >&2; exit 1; }
if [ -z "${ZVR:-}" ]; then
  [ -f build/build.ninja ] || cmake -S . -B build -G Ninja >/dev/null
  cmake --build build --target zvr >/dev/null
  ZVR=$PWD/build/bin/zvr
fi
dir=bench/interp
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for n in 100000 300000; do
  sed "s/1:5000000/1:$n/" "$dir/series.zvr" >"$tmp/series$n.zvr"
  sed "s/1, 5000000/1, $n/" "$dir/series.lua" >"$tmp/series$n.lua"
done
for n in 2 6; do
  sed "s/1:300/1:$n/" "$dir/escape_rep.zvr" >"$tmp/escape$n.zvr"
  sed "s/1, 300/1, $n/" "$dir/escape_rep.lua" >"$tmp/escape$n.lua"
done
instructions() {  # command...: the instructions callgrind counts
  valgrind --tool=callgrind --callgrind-out-file="$tmp/cg.out" "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
printf '%-8s %-16s %7s %7s %8s\n' kernel unit zvr lua zvr/lua
declare -A count
for side in zvr lua; do
  run=("$ZVR"); [ $side = lua ] && run=(lua5.4)
  a=$(instructions "${run[@]}" "$tmp/series100000.$side")
  b=$(instructions "${run[@]}" "$tmp/series300000.$side")
  count[$side.series]=$(( (b - a) / 200000 ))
  k2=$("${run[@]}" "$tmp/escape2.$side")
  k6=$("${run[@]}" "$tmp/escape6.$side")
  a=$(instructions "${run[@]}" "$tmp/escape2.$side")
  b=$(instructions "${run[@]}" "$tmp/escape6.$side")
  count[$side.escape]=$(( (b - a) / (k6 - k2) ))
done
for k in series escape; do
  unit=term; [ $k = escape ] && unit="inner iteration"
  z=${count[zvr.$k]} l=${count[lua.$k]}
  printf '%-8s %-16s %7d %7d %7s\n' $k "$unit" "$z" "$l" "$(python3 -c "print(f'{$z / $l:.2f}x')")"
done
