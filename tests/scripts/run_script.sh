#!/usr/bin/env bash
# Runs one ZVR script through zvr at one optimisation level and compares, byte
# for byte, its standard output with NAME.out and its standard error with
# NAME.err (empty when there is no such file). A script with an .err file must
# end with exit status 1 (an uncaught error), any other with 0, unless
# NAME.status holds the expected status (output on fd 2 without an error).
# Standard input is NAME.in when there is such a file, else empty. Further
# arguments go to zvr (-E, and --relocate in the sanitizer build). With a
# NAME.dbg file, its lines are zvr's debugger commands (-d). A relocated run
# compares with NAME.relocated.out instead where the script has one: where
# handing control back at every backward jump changes what it prints. With
# TN_SCRIPT_SCRATCH set the script runs in a fresh directory, removed
# afterwards, so that the files it writes stay out of the tree and two runs
# at once do not meet.
# Usage: run_script.sh ZVR SCRIPT LEVEL [ZVR OPTION...]
set -u
zvr=$1 script=$2 level=$3
shift 3
base=$(cd "$(dirname "$script")" && pwd)/$(basename "${script%.zvr}")
out=$(mktemp) err=$(mktemp) scratch=
trap 'rm -f "$out" "$err"; [ -n "$scratch" ] && rm -rf "$scratch"' EXIT

cd "$(dirname "$script")" || exit 2
script_arg=$(basename "$script")
if [ -n "${TN_SCRIPT_SCRATCH:-}" ]; then
  script_arg=$(pwd)/$script_arg
  scratch=$(mktemp -d)
  cd "$scratch" || exit 2
fi
input=/dev/null
[ -f "$base.in" ] && input=$base.in
debug=()
[ -f "$base.dbg" ] && debug=(-d "$(cat "$base.dbg")")
"$zvr" -O "$level" "$@" "${debug[@]}" "$script_arg" <"$input" >"$out" 2>"$err"
status=$?

expected_out=$base.out
for arg in "$@"; do
  if [ "$arg" = --relocate ] && [ -f "$base.relocated.out" ]; then
    expected_out=$base.relocated.out
  fi
done

expected_status=0
expected_err=/dev/null
if [ -f "$base.err" ]; then
  expected_status=1
  expected_err=$base.err
fi
if [ -f "$base.status" ]; then
  expected_status=$(cat "$base.status")
fi

failed=0
if ! cmp -s "$out" "$expected_out"; then
  echo "standard output differs from $expected_out:"
  diff -u "$expected_out" "$out" | head -60
  failed=1
fi
if ! cmp -s "$err" "$expected_err"; then
  echo "standard error differs from $expected_err:"
  diff -u "$expected_err" "$err" | head -30
  failed=1
fi
if [ "$status" -ne "$expected_status" ]; then
  echo "exit status $status, expected $expected_status"
  failed=1
fi
exit $failed
