#!/usr/bin/env bash
# Makes what a team installs, and prints the path of each file it made:
#
#   Debian packages of the release build (build-linux, the `linux` preset),
#   through CPack's DEB generator, checked by lintian (no error or warning
#   that packaging/lintian/ does not override with its reason):
#     libpkg-vossik6, libpkg-vossik-dev, it433td-tools, python3-it433td;
#   a Windows zip per width (x86_64, i686) of the cross-builds
#   (scripts/build-windows.sh): Pkg_Vossik.dll, its header and .def file,
#   docs/readme-windows.md, the licence and the third-party notices, and our
#   stand-in DLLs with their headers (the statuses) in a folder of their
#   own; every DLL stripped, its debug information in a .debug file it names
#   (--add-gnu-debuglink), in it433td-<version>-windows-<width>-debug.zip.
#
#   scripts/package.sh
#
# Everything lands in build-linux/packages/. Needs the test command's
# packages (scripts/deps.sh test: mingw-w64 for the zips, lintian).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build=build-linux
out=$root/$build/packages
wine_work=${IT433TD_WINE_WORK:-$root/build-wine}
log=$root/$build/package.log
mkdir -p "$build"
: >"$log"

quietly() { "$@" >>"$log" 2>&1 || { tail -n 40 "$log"; echo "package.sh: failed: $*" >&2; exit 1; }; }

echo "== release build ($build) and Debian packages (log: $log)" >&2
quietly cmake --preset linux
quietly cmake --build "$build" -j"$(nproc)"
rm -rf "$out"
mkdir -p "$out"
quietly cpack --config "$build/CPackConfig.cmake" -B "$out/cpack"
mv "$out"/cpack/*.deb "$out/"
rm -rf "$out/cpack"
# Errors and warnings fail the packages; notes are left in the log.
if ! lintian --fail-on error,warning "$out"/*.deb >>"$log" 2>&1; then
  grep -E '^[EW]: ' "$log" >&2 || tail -n 20 "$log" >&2
  echo "package.sh: lintian found errors or warnings in the Debian packages" >&2
  exit 1
fi

echo "== Windows zips" >&2
quietly "$root/scripts/build-windows.sh" "$wine_work"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
qrencode=$("$root/scripts/fetch-qrencode-source.sh" "${IT433TD_QRENCODE_CACHE:-/var/tmp/it433td-src}")
# width:cross-build folder:.def file
for entry in x86_64:win64:Pkg_Vossik.def i686:win32:Pkg_Vossik_i686.def; do
  IFS=: read -r width folder def <<<"$entry"
  name=it433td-$version-windows-$width
  stage=$out/stage/$name
  # Never to be copied beside the vendor's own MEGENCOM32.dll and P32GeCodeBar.dll.
  stand_ins=$stage/test-stand-ins-not-vendor-libraries
  debug=$out/stage/$name-debug
  mkdir -p "$stand_ins" "$debug"
  # The .def file is the one the cross-build made from the module's header.
  cp "$wine_work/$folder/bin/Pkg_Vossik.dll" "$wine_work/$folder/module/$def" \
     "$root/driver/Cli_Vossik.h" "$root/contract/vendor_contract.h" \
     "$root/docs/readme-windows.md" "$stage/"
  # The stand-ins' headers list their statuses, which reach the till.
  cp "$wine_work/$folder/bin/MEGENCOM32.dll" "$wine_work/$folder/bin/P32GeCodeBar.dll" \
     "$root/standins/device/MEGENCOM32.h" "$root/standins/barcode/P32GeCodeBar.h" "$stand_ins/"
  # Ours, and what the DLLs link statically: libqrencode (P32GeCodeBar.dll),
  # the mingw-w64 runtime (every DLL, Debian's list of its files' licences).
  for folder_of in "$stage" "$debug"; do
    cp "$root/LICENSE" "$folder_of/LICENSE.txt"
    cp "$root/THIRD-PARTY-NOTICES" "$folder_of/THIRD-PARTY-NOTICES.txt"
    cp /usr/share/doc/mingw-w64-common/copyright "$folder_of/mingw-w64-copyright.txt"
  done
  cp "$qrencode/COPYING" "$stand_ins/libqrencode-COPYING.txt"
  for dll in "$stage"/Pkg_Vossik.dll "$stand_ins"/*.dll; do
    kept=$debug/${dll##*/}.debug
    "$width-w64-mingw32-objcopy" --only-keep-debug "$dll" "$kept"
    "$width-w64-mingw32-strip" --strip-all "$dll"
    "$width-w64-mingw32-objcopy" --add-gnu-debuglink="$kept" "$dll"
  done
  (cd "$out/stage" && cmake -E tar cf "$out/$name.zip" --format=zip "$name" &&
     cmake -E tar cf "$out/$name-debug.zip" --format=zip "$name-debug")
done
rm -rf "$out/stage"

ls -1 "$out"/*.deb "$out"/*.zip
