#!/usr/bin/env bash
# Fuzzes the virtual printer's stream decoder with libFuzzer (clang) for a
# bounded time: fuzz.sh [SECONDS], 30 by default. New inputs stay in
# build-fuzz/corpus; the committed seeds are only read.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=ON -DIT433TD_PARTS=printer >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target fuzz_decoder >/dev/null
mkdir -p build-fuzz/corpus
build-fuzz/bin/fuzz_decoder -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  build-fuzz/corpus tests/printer/corpus 2>&1 | tail -n 3
