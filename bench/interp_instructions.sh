#!/usr/bin/env bash
# Instructions per call and per loop iteration, beside Lua 5.4: the recursive
# fib and the nested loops of bench/interp, each run at two sizes under
# callgrind, so that start-up and the code around the kernel drop out of the
# difference (fib(n) makes 2 fib(n+1) - 1 calls; the loops run 1000 inner
# iterations per outer one); the same for the scalar series (per term) and
# the escape-time grid (per inner step: the difference over the difference
# of the printed totals of steps). Then fib's and the loops' times beside Lua's, as
# bench/interp.sh takes them (medians of interleaved runs, each side's
# empty-script time subtracted). Targets: fib at most 650 instructions per
# call and 2.3 times Lua's time, the loops at most 240 per iteration and 2.1.
# Usage: bench/interp_instructions.sh [runs]   (default 15)
# ZVR=path measures another zvr binary (a build of an earlier commit, say).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}
command -v valgrind >/dev/null || { echo "interp_instructions.sh: valgrind is needed" >&2; exit 1; }
. bench/zvr_side.sh
need_command lua5.4 lua5.4
find_zvr
dir=bench/interp
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The kernels at a given size, written from the benchmark's own files so
# that both measure the same code.
# size KERNEL NAME OLD ZVR_BEFORE LUA_BEFORE N...: the kernel's files with
# its size OLD, written after ZVR_BEFORE and LUA_BEFORE, replaced by each N,
# as NAME<N>.zvr and NAME<N>.lua.
size() {
  local kernel=$1 name=$2 old=$3 zvr_before=$4 lua_before=$5 n
  shift 5
  for n in "$@"; do
    sed "s/$zvr_before$old/$zvr_before$n/" "$dir/$kernel.zvr" >"$tmp/$name$n.zvr"
    sed "s/$lua_before$old/$lua_before$n/" "$dir/$kernel.lua" >"$tmp/$name$n.lua"
  done
}
write_sizes() {
  size fib33 fib 33 'fib(' 'fib(' 16 21
  size nested nested 24000 1: '1, ' 40 200
  size series series 13000000 1: '1, ' 100000 300000
  size escape_rep escape 330 1: '1, ' 2 6
}
write_sizes

instructions() {  # command...: the instructions callgrind counts
  valgrind --tool=callgrind --callgrind-out-file="$tmp/cg.out" "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
per_unit() {  # small large units
  python3 -c "import sys; a, b, u = map(float, sys.argv[1:]); print(f'{(b - a) / u:.0f}')" "$@"
}
fib_calls=$(( (2 * 17711 - 1) - (2 * 1597 - 1) ))   # fib(21) calls less fib(16) calls
loop_iters=$(( (200 - 40) * 1000 ))
declare -A count
for side in zvr lua; do
  run=("$ZVR"); [ $side = lua ] && run=(lua5.4)
  ext=zvr; [ $side = lua ] && ext=lua
  count[$side.fib]=$(per_unit "$(instructions "${run[@]}" "$tmp/fib16.$ext")" \
                              "$(instructions "${run[@]}" "$tmp/fib21.$ext")" $fib_calls)
  count[$side.nested]=$(per_unit "$(instructions "${run[@]}" "$tmp/nested40.$ext")" \
                                 "$(instructions "${run[@]}" "$tmp/nested200.$ext")" $loop_iters)
  count[$side.series]=$(per_unit "$(instructions "${run[@]}" "$tmp/series100000.$ext")" \
                                 "$(instructions "${run[@]}" "$tmp/series300000.$ext")" 200000)
  # The grid's work per point is spread over its inner iterations: the
  # difference is divided by the difference of the printed totals.
  k2=$("${run[@]}" "$tmp/escape2.$ext")
  k6=$("${run[@]}" "$tmp/escape6.$ext")
  count[$side.escape]=$(per_unit "$(instructions "${run[@]}" "$tmp/escape2.$ext")" \
                                 "$(instructions "${run[@]}" "$tmp/escape6.$ext")" $((k6 - k2)))
done

python3 - "$runs" "$ZVR" "$dir" "${count[zvr.fib]}" "${count[lua.fib]}" \
  "${count[zvr.nested]}" "${count[lua.nested]}" "${count[zvr.series]}" "${count[lua.series]}" \
  "${count[zvr.escape]}" "${count[lua.escape]}" <<'PY'
import subprocess, sys, time, statistics
runs, zvr, d = int(sys.argv[1]), sys.argv[2], sys.argv[3]
zf, lf, zn, ln, zs, ls, ze, le = map(int, sys.argv[4:12])
print("instructions (callgrind, two sizes subtracted)")
print(f"{'kernel':<8} {'unit':<10} {'zvr':>7} {'lua':>7} {'zvr/lua':>8} {'target':>7}")
status = 0
for k, unit, z, l, target in [("fib", "call", zf, lf, 650), ("nested", "iteration", zn, ln, 240)]:
    ok = z <= target
    status |= 0 if ok else 1
    print(f"{k:<8} {unit:<10} {z:7d} {l:7d} {z / l:7.2f}x {target:7d}" + ("" if ok else "  OVER"))
# The series and the grid have time targets only (bench/interp.sh).
for k, unit, z, l in [("series", "term", zs, ls), ("escape", "inner step", ze, le)]:
    print(f"{k:<8} {unit:<10} {z:7d} {l:7d} {z / l:7.2f}x {'-':>7}")
cmds = {}
for k in ["fib33", "nested", "empty"]:
    cmds[("zvr", k)] = [zvr, f"{d}/{k}.zvr"]
    cmds[("lua", k)] = ["lua5.4", f"{d}/{k}.lua"]
t = {n: [] for n in cmds}
for r in range(runs):
    for n, c in cmds.items():
        t0 = time.perf_counter_ns()
        subprocess.run(c, stdout=subprocess.DEVNULL, check=True)
        t[n].append((time.perf_counter_ns() - t0) / 1e6)
ms = {n: statistics.median(v) for n, v in t.items()}
print(f"kernel time: medians of {runs} interleaved runs, empty-script time subtracted, ms")
print(f"{'kernel':<8} {'zvr':>9} {'lua':>9} {'zvr/lua':>8} {'target':>7}")
for k, target in [("fib33", 2.3), ("nested", 2.1)]:
    z = ms[("zvr", k)] - ms[("zvr", "empty")]
    l = ms[("lua", k)] - ms[("lua", "empty")]
    r = z / l if l > 0 else float("inf")
    ok = r <= target
    status |= 0 if ok else 2
    print(f"{k:<8} {z:9.1f} {l:9.1f} {r:7.2f}x {target:6.1f}x" + ("" if ok else "  OVER"))
sys.exit(status)
PY
