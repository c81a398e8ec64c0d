#!/usr/bin/env bash
# The markup converter's figures: HTML and display-text conversion of a
# 200 KB help text, a 1 MB line, and the offscreen display beside
# QTextDocument::setMarkdown. Usage: bench/markup.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target markup_bench >/dev/null
QT_QPA_PLATFORM=offscreen build-bench/bin/markup_bench
