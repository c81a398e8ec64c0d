#!/usr/bin/env bash
# Applications as long as zvr runs them, built by tnbuild and tnpack and run
# by the real program: a function of 3,000 lines, an application of 1,500
# functions, an expression of 800 terms, an init handler that makes an
# 8 MB matrix and one whose locals need more than the block first holds (at
# the build and again in the program's plot handler). Each builds with
# nothing on standard error and runs with no failure reported (attempts that
# ran short of room and succeeded in a larger block are no failures), and
# the program shows what zvr computes from the same source.
#   large_sources.sh PROGRAM TNBUILD TNPACK ZVR WORKDIR
set -euo pipefail
program=$1 tnbuild=$2 tnpack=$3 zvr=$4 work=$5
name=large_sources
source "$(dirname "$0")/x11_session.sh"

# An application of one instance whose init handler computes r with
# app_main and whose plot handler prints what it holds.
write_app() {
  local dir=$1 kind=$2 n=$3 i
  mkdir -p "$dir"
  printf 'instance app\ntitle "Large %s"\nvar r\ninit r = app_main()\nfigure "Result"\nplot app_show(r)\n' \
    "$kind" > "$dir/app.tnd"
  {
    echo "function r = app_main()"
    case $kind in
      lines)
        echo "  r = 0;"
        for ((i = 0; i < n; i++)); do echo "  r = r + $((i % 7));"; done ;;
      functions)
        echo "  r = 0;"
        for ((i = 0; i < n; i++)); do echo "  r = r + f$i($i);"; done ;;
      terms)
        printf "  r = 0"
        for ((i = 1; i < n; i++)); do printf " + %d" "$i"; done
        echo ";" ;;
      rand) echo "  r = rand($n);" ;;
      locals) printf '  y = zeros(1, %d);\n  y(end) = 3;\n  r = sum(y);\n' "$n" ;;
    esac
    echo "endfunction"
    if [ "$kind" = functions ]; then
      for ((i = 0; i < n; i++)); do printf 'function y = f%d(x)\n  y = 2 * x + %d;\nendfunction\n' "$i" $((i % 5)); done
    fi
    echo "function app_show(r)"
    # The plot handler's locals need a larger block in the program too.
    [ "$kind" = locals ] && printf '  z = zeros(1, %d);\n  r = r + z(end);\n' "$n"
    echo "  fprintf(1, 'result %d %d %d %d\n', size(r), all(r(:) >= 0 & r(:) < 1e9), round(sum(r(:)) * (numel(r) == 1)));"
    echo "  fflush(1);"
    echo "endfunction"
  } > "$dir/app.zvr"
}

for case in "lines 3000" "functions 1500" "terms 800" "rand 1000" "locals 1500000"; do
  read -r kind n <<< "$case"
  dir=$work/$kind
  write_app "$dir" "$kind" "$n"
  # What zvr computes from the source.
  { echo "app_show(app_main());"; cat "$dir/app.zvr"; } > "$dir/direct.zvr"
  "$zvr" "$dir/direct.zvr" > "$dir/expected" || fail "$kind: zvr failed"
  grep -q '^result' "$dir/expected" || fail "$kind: zvr printed no result"
  "$tnbuild" "$dir/app.tnd" "$dir/app.img" 2> "$dir/tnbuild.err" || fail "$kind: tnbuild: $(cat "$dir/tnbuild.err")"
  [ ! -s "$dir/tnbuild.err" ] || fail "$kind: tnbuild wrote: $(head -c 400 "$dir/tnbuild.err")"
  "$tnpack" "$dir/app.tnd" "$program" "$dir/tarnivel-app" 2> "$dir/tnpack.err" ||
    fail "$kind: tnpack: $(cat "$dir/tnpack.err")"
  [ ! -s "$dir/tnpack.err" ] || fail "$kind: tnpack wrote: $(head -c 400 "$dir/tnpack.err")"
  # The program shows the figure, whose plot handler prints the result.
  start_program "$dir/tarnivel-app" "Large $kind - Tarnivel Runtime"
  # Up to a minute: a loaded sanitizer run takes its time over a large image.
  for _ in $(seq 600); do
    grep -q '^result' "$work/stdout" 2>/dev/null && break
    sleep 0.1
  done
  close_program
  grep -m 1 '^result' "$work/stdout" > "$dir/shown" || fail "$kind: the program printed no result"
  cmp -s "$dir/expected" "$dir/shown" || fail "$kind: the program shows $(cat "$dir/shown"), zvr $(cat "$dir/expected")"
  ! grep -q 'overflow' "$work/stderr" || fail "$kind: the program reported $(grep overflow "$work/stderr" | head -n 3)"
done
echo "$name: passed"
