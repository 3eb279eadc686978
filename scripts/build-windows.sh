#!/usr/bin/env bash
# Cross-compiles the Windows module, our two stand-in libraries and the test
# host with mingw-w64: FOLDER/win64 (x86_64) and FOLDER/win32 (i686, the
# width of the closed vendor libraries). FOLDER defaults to build-wine.
#
#   scripts/build-windows.sh [FOLDER]
#
# The DLLs land in FOLDER/win64/bin and FOLDER/win32/bin. P32GeCodeBar.dll
# compiles libqrencode's C source, fetched from Debian's source archive.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${1:-$root/build-wine}
mkdir -p "$work"
cache=${IT433TD_QRENCODE_CACHE:-/var/tmp/it433td-src}
qrencode=$("$root/scripts/fetch-qrencode-source.sh" "$cache") ||
  { echo "build-windows.sh: cannot fetch libqrencode's source into $cache (see above)" >&2; exit 1; }
# The configure presets mingw-x86_64 and mingw-i686 (CMakePresets.json).
# A folder configured for this libqrencode source is not configured again:
# its build re-runs the configuration when a CMake file changes.
for target in x86_64:win64 i686:win32; do
  arch=${target%%:*} dir=$work/${target#*:}
  echo "== cross-build $arch -> $dir"
  if ! grep -qxF "IT433TD_QRENCODE_SOURCE_DIR:PATH=$qrencode" "$dir/CMakeCache.txt" 2>/dev/null; then
    cmake -S "$root" --preset "mingw-$arch" -B "$dir" \
      -DIT433TD_QRENCODE_SOURCE_DIR="$qrencode" >"$work/configure-$arch.log" ||
      { cat "$work/configure-$arch.log"; exit 1; }
  fi
  cmake --build "$dir" -j"$(nproc)" >"$work/build-$arch.log" || { cat "$work/build-$arch.log"; exit 1; }
done
