#!/usr/bin/env bash
# Installs what the tests need, checks the formatting, fuzzes the whole run
# for a short while (PEAKPOS_FUZZ_SECONDS, 30), then builds and runs every
# test: once as the release build with the default compiler (GCC on
# Debian), once under the address and undefined-behaviour sanitizers built
# with Clang, so that the project is built and tested with both compilers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-test-deps.sh
jobs=$(nproc)

# The sources as clang-format writes them.
git ls-files '*.cpp' '*.hpp' '*.c' '*.h' | xargs clang-format --dry-run --Werror

# The fuzz target, built with clang, run for a short fixed time from the
# seed corpus and the inputs of crashes found before; a crash, a leak or a
# sanitizer finding fails the script (the input is left in build-fuzz/).
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DPEAKPOS_FUZZ=ON -DPEAKPOS_TESTS=OFF -DPEAKPOS_BENCH=OFF
cmake --build build-fuzz -j"$jobs" --target fuzz_deck
mkdir -p fuzz/corpus-work
build-fuzz/fuzz/fuzz_deck -max_total_time="${PEAKPOS_FUZZ_SECONDS:-30}" -timeout=10 \
  -rss_limit_mb=2048 -dict=fuzz/deck.dict -artifact_prefix=build-fuzz/ -print_final_stats=1 \
  fuzz/corpus-work fuzz/corpus fuzz/regressions

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPEAKPOS_REQUIRE_TEST_TOOLS=ON
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DPEAKPOS_SANITIZE=ON -DPEAKPOS_REQUIRE_TEST_TOOLS=ON
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"
