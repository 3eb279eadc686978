#!/usr/bin/env bash
# The one-command demo. Installs the Debian packages the demo needs that are
# missing (scripts/deps.sh demo: no cross-compilers, Wine or test tools),
# builds the driver module, the stand-in vendor libraries, the virtual printer
# and it433td in the release build (build-linux/, the `linux` preset), prints
# a sample receipt through the real module on the virtual printer, and tells
# where its picture is.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh demo
build=build-linux
log=$build/demo-build.log
mkdir -p "$build"
echo "Building in $build/ (log: $log)"
if ! { cmake --preset linux &&
       cmake --build "$build" -j"$(nproc)" --target it433td; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "The build failed; the whole log is in $log" >&2
  exit 1
fi
"$build/bin/it433td" demo --out "$build/demo-receipt"
echo "Open the .png above to see the receipt as the printer would print it."
