#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test: once as the
# release build, once under the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-test-deps.sh
jobs=$(nproc)

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPEAKPOS_REQUIRE_TEST_TOOLS=ON
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPEAKPOS_SANITIZE=ON -DPEAKPOS_REQUIRE_TEST_TOOLS=ON
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"
