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
#
# The four builds need nothing of each other, so they run side by side and
# keep both cores busy through each other's configure steps, links, Wine's
# first start and lintian; each one's output goes to build-logs/. Fuzzing
# then has the cores to itself (one target a core), and the suite runs last.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
logs=$PWD/build-logs
mkdir -p "$logs"
wine_work=${IT433TD_WINE_WORK:-$PWD/build-wine}
started=$SECONDS

sanitizer_build() {
  # The Wine work folder is the one wine-test.sh prepares beside it.
  cmake --preset linux-sanitize -B build -DIT433TD_WINE_DIR="$wine_work" \
    -DIT433TD_RELEASE_DIR="$PWD/build-linux" -DIT433TD_PACKAGE_DIR="$PWD/build-linux/packages"
  cmake --build build -j"$(nproc)"
}

# step NAME COMMAND...: runs it in the background, its output in build-logs/NAME.log.
declare -A pids=()
step() {
  local name=$1
  shift
  echo "== $name: started (log: $logs/$name.log)"
  { local from=$SECONDS; "$@"; echo "== $name: done in $((SECONDS - from)) s"; } >"$logs/$name.log" 2>&1 &
  pids[$name]=$!
}
# Waits for every step; a failed one's log is shown, and the command fails.
finish_steps() {
  local name failed=0
  for name in "${!pids[@]}"; do
    if wait "${pids[$name]}"; then
      tail -n 1 "$logs/$name.log"
    else
      failed=1
      echo "== $name: FAILED; its log ($logs/$name.log) ends:" >&2
      tail -n 60 "$logs/$name.log" >&2
    fi
  done
  pids=()
  return "$failed"
}

step sanitizer-build sanitizer_build
step windows-and-wine scripts/wine-test.sh --prepare-only
step release-and-debs scripts/package.sh debs
step fuzz-build scripts/fuzz.sh --build-only
finish_steps
scripts/package.sh zips
echo "== builds done after $((SECONDS - started)) s"
scripts/fuzz.sh
echo "== fuzzing done after $((SECONDS - started)) s"
# Most tests wait on the printer's fixed pauses, so run many at once.
ctest --test-dir build -j8 --output-on-failure
echo "== all done after $((SECONDS - started)) s"
