#!/usr/bin/env bash
# The pattern reader: seconds and peak memory reading a million points of
# plain columns, 128 MiB of blank lines and a million GSAS STD counts
# (goals: a million points within 0.5 s and 150 MiB; the blank lines within
# seconds and the memory of the file and a little more).
#
#   bash bench/pattern.sh [BUILD]      (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
b=${1:-build}
[ -d "$b" ] || cmake -S . -B "$b" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$b" --target pattern_read_bench -j2 >/dev/null
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for kind in columns blank std; do
    "$b/bench/pattern_read_bench" "$kind" "$dir"
done
