#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine: installs what is missing,
# cross-builds the Windows DLLs and prepares Wine, builds everything for Linux
# with AddressSanitizer and UndefinedBehaviorSanitizer, fuzzes every parser
# that takes outside bytes for 20 s each, and runs the whole suite, the Windows
# module under Wine included.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/wine-test.sh --prepare-only
# The Wine work folder is the one wine-test.sh prepared.
cmake --preset linux-sanitize -B build \
  -DIT433TD_WINE_DIR="${IT433TD_WINE_WORK:-$PWD/build-wine}" >/dev/null
cmake --build build -j"$(nproc)"
scripts/fuzz.sh
# Most tests wait on the printer's fixed pauses, so run many at once.
ctest --test-dir build -j8 --output-on-failure
