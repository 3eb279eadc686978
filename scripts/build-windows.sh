#!/usr/bin/env bash
# Cross-compiles the Windows module (and, where present, the Windows
# stand-ins and test host) for x86_64 and i686 with mingw-w64, and checks
# the DLLs' export tables. Builds land in build-win64/ and build-win32/.
set -euo pipefail
cd "$(dirname "$0")/.."
for target in x86_64:build-win64 i686:build-win32; do
  arch=${target%%:*}
  dir=${target##*:}
  cmake --no-warn-unused-cli -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$arch.cmake" \
    -DBUILD_TESTING=OFF -DIT433TD_WERROR=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$dir" -j"$(nproc)" >/dev/null
  scripts/check-dll-exports.sh "$arch" "$dir/bin/Pkg_Vossik.dll"
done
