#!/usr/bin/env bash
# The one-command demo. Installs the Debian packages that are missing, builds
# the driver module, the stand-in vendor libraries, the virtual printer and
# it433td (a normal build in build-demo/), prints a sample receipt through the
# real module on the virtual printer, and tells where its picture is.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
log=build-demo/build.log
mkdir -p build-demo
echo "Building in build-demo/ (log: $log)"
if ! { cmake --preset linux -B build-demo -DBUILD_TESTING=OFF &&
       cmake --build build-demo -j"$(nproc)" --target it433td; } >"$log" 2>&1; then
  tail -n 30 "$log"
  echo "The build failed; the whole log is in $log" >&2
  exit 1
fi
build-demo/bin/it433td demo --out build-demo/demo-receipt
echo "Open the .png above to see the receipt as the printer would print it."
