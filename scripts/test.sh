#!/usr/bin/env bash
# Runs every test on a fresh Debian 12 machine: installs what is missing
# (scripts/deps.sh test), cross-builds the Windows DLLs of both widths and
# prepares Wine, makes the packages from the release build (scripts/package.sh:
# build-linux, the Debian packages and the Windows zips), builds everything
# for Linux with AddressSanitizer and UndefinedBehaviorSanitizer (build/),
# fuzzes every parser that takes outside bytes for 20 s each, and runs the
# whole suite: the Windows module of both widths under Wine, the install and
# package tests on the release build, and the naming check (clang-tidy over
# the Linux and Windows sources), included.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
scripts/wine-test.sh --prepare-only
scripts/package.sh
# The Wine work folder is the one wine-test.sh prepared.
cmake --preset linux-sanitize -B build \
  -DIT433TD_WINE_DIR="${IT433TD_WINE_WORK:-$PWD/build-wine}" \
  -DIT433TD_RELEASE_DIR="$PWD/build-linux" -DIT433TD_PACKAGE_DIR="$PWD/build-linux/packages" >/dev/null
cmake --build build -j"$(nproc)"
scripts/fuzz.sh
# Most tests wait on the printer's fixed pauses, so run many at once.
ctest --test-dir build -j8 --output-on-failure
