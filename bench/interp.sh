#!/usr/bin/env bash
# The interpreter beside Lua 5.4: the same kernels as ZVR scripts run by zvr
# and as Lua scripts, timed side by side in one run: the recursive fib(20), a
# scalar loop of 500,000 iterations, a recursive quicksort of 5,000 numbers
# and an escape-time grid of complex points. The target is 3 times Lua for
# each. Each process is timed whole, start-up included; the start-up of each
# (an empty script) is shown too, and the kernel columns subtract it.
# Usage: bench/interp.sh [runs]   (default 30 runs of each; hyperfine is used
# when it is installed, else the median of interleaved timings in Python)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30}
target=3

if ! command -v lua5.4 >/dev/null; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get install -y lua5.4 >/dev/null 2>&1 ||
    { $sudo apt-get update >/dev/null && $sudo apt-get install -y lua5.4 >/dev/null; }
fi
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target zvr >/dev/null
zvr=$PWD/build/bin/zvr
dir=bench/interp

# Both sides must compute the same thing.
for k in fib loop qsort escape; do
  a=$("$zvr" "$dir/$k.zvr") b=$(lua5.4 "$dir/$k.lua")
  if [ "$a" != "$b" ]; then
    echo "interp.sh: $k differs: zvr '$a', lua '$b'" >&2
    exit 1
  fi
done

declare -A cmds=(
  [zvr_fib]="$zvr $dir/fib.zvr" [lua_fib]="lua5.4 $dir/fib.lua"
  [zvr_loop]="$zvr $dir/loop.zvr" [lua_loop]="lua5.4 $dir/loop.lua"
  [zvr_qsort]="$zvr $dir/qsort.zvr" [lua_qsort]="lua5.4 $dir/qsort.lua"
  [zvr_escape]="$zvr $dir/escape.zvr" [lua_escape]="lua5.4 $dir/escape.lua"
  [zvr_empty]="$zvr $dir/empty.zvr" [lua_empty]="lua5.4 $dir/empty.lua"
)
declare -A ms
for n in "${!cmds[@]}"; do export "CMD_$n=${cmds[$n]}"; done
if command -v hyperfine >/dev/null; then
  json=$(mktemp)
  trap 'rm -f "$json"' EXIT
  names=(zvr_fib lua_fib zvr_loop lua_loop zvr_qsort lua_qsort zvr_escape lua_escape zvr_empty lua_empty)
  args=()
  for n in "${names[@]}"; do args+=(-n "$n" "${cmds[$n]}"); done
  hyperfine -N --warmup 3 --runs "$runs" --export-json "$json" "${args[@]}" >/dev/null
  for n in "${names[@]}"; do
    ms[$n]=$(python3 -c "import json,sys; r={x['command']: x for x in json.load(open(sys.argv[1]))['results']}; print('%.2f' % (r[sys.argv[2]]['median'] * 1000))" "$json" "$n")
  done
  method="hyperfine, median of $runs runs"
else
  # Interleaved runs, so that the machine's load falls on every command alike;
  # each process is timed from its start to its end.
  while read -r n v; do ms[$n]=$v; done < <(python3 - "$runs" "${!cmds[@]}" <<'PY'
import subprocess, sys, time, statistics, os
runs = int(sys.argv[1]); names = sys.argv[2:]
cmds = {n: os.environ["CMD_" + n].split() for n in names}
t = {n: [] for n in names}
for _ in range(runs):
    for n in names:
        t0 = time.perf_counter_ns()
        subprocess.run(cmds[n], stdout=subprocess.DEVNULL, check=True)
        t[n].append(time.perf_counter_ns() - t0)
for n in names:
    print(n, "%.2f" % (statistics.median(t[n]) / 1e6))
PY
)
  method="median of $runs interleaved runs"
fi

printf 'interpreter beside Lua 5.4 (%s)\n' "$method"
printf 'whole process, start-up included; "kernel" subtracts each side'"'"'s empty-script time\n'
printf '%-8s %9s %9s %8s   %10s %10s %8s\n' kernel "zvr ms" "lua ms" ratio "zvr kernel" "lua kernel" ratio
status=0
for k in fib loop qsort escape empty; do
  line=$(awk -v a="${ms[zvr_$k]}" -v b="${ms[lua_$k]}" -v a0="${ms[zvr_empty]}" -v b0="${ms[lua_empty]}" \
             -v k="$k" -v t="$target" 'BEGIN {
    r = a / b
    printf "%-8s %9.2f %9.2f %7.2fx", k, a, b, r
    if (k != "empty") {
      ka = a - a0; kb = b - b0
      if (kb > 0) printf "   %10.2f %10.2f %7.2fx", ka, kb, ka / kb; else printf "   %10.2f %10.2f %8s", ka, kb, "-"
      printf "  %s", (r <= t) ? "within " t "x" : "OVER " t "x"
    }
    printf "\n"
  }')
  echo "$line"
  case "$line" in *OVER*) status=2 ;; esac
done
exit $status
