#!/usr/bin/env bash
# md5 and sha1 of a 100 MB file through an engine descriptor beside hashlib,
# and a 10^6-element quaternion product beside numpy, in one run.
# Usage: bench/digest_quaternion.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-3}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target digest_quaternion_bench
file=$(mktemp)
trap 'rm -f "$file"' EXIT
head -c 100000000 /dev/urandom >"$file"
build-bench/bin/digest_quaternion_bench "$file" "$reps"
/usr/bin/python3 bench/digest_quaternion.py "$file" "$reps"
