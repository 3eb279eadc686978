#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine: installs what is missing,
# cross-builds and checks the Windows DLLs, builds everything for Linux with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs the suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build-windows.sh
cmake -S . -B build -DIT433TD_SANITIZE=ON -DIT433TD_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
# The printer's stream decoder under libFuzzer, for a bounded time.
scripts/fuzz.sh 30
# Most tests wait on the printer's fixed pauses, so run many at once.
ctest --test-dir build -j8 --output-on-failure
