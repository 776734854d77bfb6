#!/usr/bin/env bash
# Builds peakpos and the benchmark as the default (installed) build is made,
# optimised with debug information, in build-bench/, generates the
# 5000-reflection deck and measures.
#
#   bash bench/run.sh [--runs N] [--iterations N]
#
# Quieter figures come from an otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."
b=build-bench
cmake -S . -B "$b" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPEAKPOS_TESTS=OFF -DPEAKPOS_BENCH=ON >/dev/null
cmake --build "$b" -j"$(nproc)" --target peakpos peakpos_bench peakpos_replay peakpos_gendeck >/dev/null
"$b/bench/peakpos_gendeck" > "$b/bench/bench.deck"
cd "$b/bench"
exec ./peakpos_bench --deck bench.deck --peakpos ../peakpos --replay ./peakpos_replay "$@"
