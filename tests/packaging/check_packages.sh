#!/usr/bin/env bash
# The packages as a team gets them, without installing anything into the
# system:
#   1. every .deb unpacked into one scratch folder; nothing in it needs a
#      sanitizer runtime; dpkg-shlibdeps gave the compiled packages their
#      library dependencies, and the others depend on the runtime package;
#      each carries its DEP-5 copyright (Apache-2.0) and the notices; the
#      manual page it433td(1) has a section for each of the tool's
#      subcommands, and no other;
#   2. the C sample, as the development package carries it, built through
#      pkg-config against the unpacked files, and the Python sample run by
#      Debian's /usr/bin/python3 from the binding's package and the runtime
#      alone (no pip, no development files), and the unpacked it433td run
#      by an ordinary user, who unpacked the packages and so may write
#      beside it, all printing a QR code on the virtual printer (emulate,
#      that user's too); it433td leaves nothing beside itself, nor its
#      private QR folder; pytest loads the binding package's plugin;
#   3. both zips: the licence, the notices and the stand-ins' headers with
#      their statuses; every DLL stripped, naming its .debug file in the
#      debug zip, its PE header Windows 6.0 or later; the module's version
#      resource with its LegalCopyright;
#   4. the i686 zip unpacked, its stand-ins put beside Pkg_Vossik.dll as its
#      readme says, and the 32-bit Windows host run against it under Wine.
#
#   check_packages.sh PACKAGES SCRATCH SOURCE WINE_CAPTURE
#   (the i686 Wine width in the environment: tests/wine/wine_width.h)
set -euo pipefail
packages=$1 scratch=$2 source=$3 wine_capture=$4
fail() { echo "FAILED: $*" >&2; exit 1; }

rm -rf "$scratch"
mkdir -p "$scratch"
root=$scratch/root
debs=("$packages"/*.deb)
[[ -f ${debs[0]} ]] || fail "no .deb in $packages: run scripts/package.sh"
for deb in "${debs[@]}"; do
  package=$(dpkg-deb -f "$deb" Package)
  depends=$(dpkg-deb -f "$deb" Depends)
  own=$scratch/each/$package
  mkdir -p "$own"
  dpkg-deb -x "$deb" "$own"
  dpkg-deb -x "$deb" "$root"
  compiled=0
  while IFS= read -r -d '' file; do
    [[ $(head -c 4 "$file" | tr -d '\0') == $'\x7fELF' ]] || continue
    compiled=1
    needed=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
    if grep -E 'lib(asan|ubsan|lsan|tsan|hwasan)' <<<"$needed"; then
      fail "$package: ${file#"$own"} needs a sanitizer runtime"
    fi
  done < <(find "$own" -type f -print0)
  if ((compiled)); then
    [[ $depends == *libc6* ]] || fail "$package: no library dependencies (dpkg-shlibdeps): $depends"
  fi
  if [[ $package != libpkg-vossik6 ]]; then
    [[ $depends == *libpkg-vossik6* ]] || fail "$package does not depend on libpkg-vossik6: $depends"
  fi
  doc=$own/usr/share/doc/$package
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright" &&
    grep -qx 'License: Apache-2.0' "$doc/copyright" && [[ -s $doc/THIRD-PARTY-NOTICES.gz ]] ||
    fail "$package: no DEP-5 copyright with Apache-2.0, or no THIRD-PARTY-NOTICES.gz"
done
echo "unpacked, none needs a sanitizer runtime, each with its licence: ${debs[*]##*/}"

subcommands=$("$root/usr/bin/it433td" --help | sed -n '/^Subcommands:$/,/^$/s/^  \([a-z0-9-]*\) .*/\1/p')
documented=$(zcat "$root/usr/share/man/man1/it433td.1.gz" | sed -n 's/^\.SS "it433td \(.*\)"$/\1/p')
[[ -n $subcommands && $subcommands == "$documented" ]] ||
  fail "it433td(1) documents \"${documented//$'\n'/ }\", the tool has \"${subcommands//$'\n'/ }\""

# An ordinary user's copy of the packages, under a folder of their own.
user=65534
as_user=(setpriv --reuid=$user --regid=$user --clear-groups env -i PATH=/usr/bin:/bin)
home=$(mktemp -d)
chown $user:$user "$home"
chmod 755 "$home"
cp -a "$root" "$home/root"
chown -R $user:$user "$home/root"
tool=$home/root/usr/bin/it433td

# The virtual printer of the tools package, that user's, under the port name COM1.
printer=$home/printer
"${as_user[@]}" mkdir -p "$printer/ports" "$printer/out" "$home/tmp"
"${as_user[@]}" "$tool" emulate --port COM1 --out "$printer/out" --ports-dir "$printer/ports" \
  >"$scratch/emulate.txt" 2>&1 &
emulate=$!
trap 'kill "$emulate" 2>/dev/null || true; rm -rf "$home"' EXIT
for _ in $(seq 100); do
  grep -q ready "$scratch/emulate.txt" && break
  sleep 0.1
done
grep -q ready "$scratch/emulate.txt" || fail "it433td emulate did not start: $(cat "$scratch/emulate.txt")"
export IT433TD_PORTS=$printer/ports

# The C sample, built as its comment says, with the unpacked pkg-config file.
sample=$scratch/c
mkdir -p "$sample/Dados"
export PKG_CONFIG_PATH=$root/usr/lib/pkgconfig
# shellcheck disable=SC2046 # pkg-config's flags are words
cc "$root/usr/share/doc/libpkg-vossik-dev/examples/c/receipt.c" -o "$sample/receipt" \
   $(pkg-config --cflags --libs it433td) -ldl -Wl,-rpath,"$(pkg-config --variable=libdir it433td)"
(cd "$sample" && ./receipt COM1) || fail "the C sample failed"

# The Python sample on Debian's own Python, with only the binding's package
# and the runtime it depends on (not the development files).
python=$scratch/python
mkdir -p "$python/dados"
(cd "$python" && PYTHONPATH=$scratch/each/python3-it433td/usr/lib/python3/dist-packages \
   LD_LIBRARY_PATH=$scratch/each/libpkg-vossik6/usr/lib \
   /usr/bin/python3 "$root/usr/share/doc/libpkg-vossik-dev/examples/python/receipt.py" COM1) ||
  fail "the Python sample failed"
# Its pytest plugin, found by pytest itself through the package's metadata
# (a folder without tests: pytest's status is 5).
plugins=$(PYTHONPATH=$scratch/each/python3-it433td/usr/lib/python3/dist-packages /usr/bin/python3 \
  -m pytest --trace-config --co -q -p no:cacheprovider "$python/dados" 2>&1 || true)
grep -q 'it433td.pytest_plugin' <<<"$plugins" || fail "pytest does not load the package's plugin: $plugins"

# The tool as that user, no IT433TD_DADOS_DIR: nothing beside it, no QR folder left.
printf 'Recibo do usuario\nqr https://nfce.exemplo.com.br/consulta?p=43\ncut\n' >"$scratch/user.txt"
"${as_user[@]}" TMPDIR="$home/tmp" IT433TD_PORTS="$printer/ports" "$tool" print --port COM1 - \
  <"$scratch/user.txt" || fail "the packaged it433td failed for an ordinary user"
[[ $(ls -A "$home/root/usr/bin") == it433td && -z $(ls -A "$home/tmp") ]] ||
  fail "it433td left files: $(ls -A "$home/root/usr/bin" "$home/tmp")"

kill -TERM "$emulate"
wait "$emulate" || fail "it433td emulate ended badly: $(cat "$scratch/emulate.txt")"
transcripts=("$printer"/out/*.txt)
((${#transcripts[@]} == 3)) || fail "${#transcripts[@]} receipts printed, not 3: ${transcripts[*]}"
for transcript in "${transcripts[@]::2}"; do
  grep -q 'QR "https://nfce.exemplo.com.br/consulta?p=42"' "$transcript" &&
    grep -q '\[CODE128 "PEDIDO-0042"\]' "$transcript" && grep -q '\[CUT\]' "$transcript" ||
    fail "$transcript lacks the QR code, the CODE128 or the cut: $(cat "$transcript")"
done
grep -q 'QR "https://nfce.exemplo.com.br/consulta?p=43"' "${transcripts[2]}" ||
  fail "the user's receipt lacks its QR code: $(cat "${transcripts[2]}")"
rm -rf "$home"
trap - EXIT
echo "the C and Python samples and an ordinary user's it433td printed through the unpacked packages"

# Both zips as a till's developer unpacks them.
for width in x86_64 i686; do
  zip=("$packages"/*-windows-$width.zip)
  unpacked=$scratch/zips/$width
  mkdir -p "$unpacked"
  (cd "$unpacked" && cmake -E tar xf "${zip[0]}" && cmake -E tar xf "${zip[0]%.zip}-debug.zip")
  release=("$unpacked"/*-$width) debug=("$unpacked"/*-debug)
  for file in LICENSE.txt THIRD-PARTY-NOTICES.txt test-stand-ins-not-vendor-libraries/MEGENCOM32.h \
              test-stand-ins-not-vendor-libraries/P32GeCodeBar.h; do
    [[ -s ${release[0]}/$file ]] || fail "${zip[0]##*/} lacks $file"
  done
  for dll in "${release[0]}"/Pkg_Vossik.dll "${release[0]}"/test-stand-ins-not-vendor-libraries/*.dll; do
    headers=$("$width-w64-mingw32-objdump" -h -p "$dll")
    ! grep -q '\.debug_' <<<"$headers" || fail "$dll is not stripped"
    for version in MajorOSystemVersion MajorSubsystemVersion; do
      (($(sed -n "s/^$version\s*//p" <<<"$headers") >= 6)) || fail "$dll: $version below 6"
    done
    # The debug link: the .debug file's name, then its CRC-32 (zlib's).
    "$width-w64-mingw32-objcopy" --dump-section .gnu_debuglink="$scratch/link" "$dll" "$scratch/dll"
    python3 -c 'import sys, zlib; link = open(sys.argv[1], "rb").read()
sys.exit(link.split(b"\0")[0].decode() != sys.argv[3].split("/")[-1] or
         zlib.crc32(open(sys.argv[3], "rb").read()) != int.from_bytes(link[-4:], "little"))' \
      "$scratch/link" "$dll" "${debug[0]}/${dll##*/}.debug" || fail "$dll: no debug link to its .debug file"
  done
  wrestool -x --raw --type=16 "${release[0]}/Pkg_Vossik.dll" | iconv -f UTF-16LE -t UTF-8 2>/dev/null |
    grep -qa 'LegalCopyright' || fail "${zip[0]##*/}: no LegalCopyright in Pkg_Vossik.dll"
done
pinned=$(sed -n 's/^sha256=//p' "$source/scripts/fetch-qrencode-source.sh")
grep -q "SHA-256 $pinned" "$source/THIRD-PARTY-NOTICES" || fail "THIRD-PARTY-NOTICES names another libqrencode hash"
echo "both zips: licence, notices, statuses, stripped DLLs of Windows 6.0 with their debug files"

# The i686 zip (the x86_64 one where Wine has no 32-bit loader: the width
# in the environment): the module, and the stand-ins beside it (there are no
# vendor libraries on this machine), with the test host of that width.
width=${IT433TD_WINE_WIDTH:-i686}
zips=("$packages"/*-windows-$width.zip)
[[ -f ${zips[0]} ]] || fail "no $width zip in $packages"
windows=$scratch/windows
mkdir -p "$windows"
(cd "$windows" && cmake -E tar xf "${zips[0]}")
folder=("$windows"/*/)
host=$windows/host
mkdir -p "$host"
cp "${folder[0]}"/Pkg_Vossik.dll "${folder[0]}"/test-stand-ins-not-vendor-libraries/*.dll \
   "$IT433TD_WINE_BIN/host_win.exe" "$host/"
IT433TD_WINE_BIN=$host "$wine_capture" "$scratch/wine" || fail "the Windows host did not run"
results=$scratch/wine/host.txt
for expected in "StartIT433TD 1" "IniciaPorta_IT433TD 0" "FormataTX_IT433TD 0" \
                "ImprimeCODE128_IT433TD 0" "AcionaGuilhotina_IT433TD 0" "ImprimeQRCode_IT433TD 0" \
                "FechaPorta_IT433TD 0"; do
  tr -d '\r' <"$results" | grep -qx "$expected" || fail "the Windows host's output lacks \"$expected\": $(cat "$results")"
done
echo "the $width Windows host printed through the $width zip under Wine"
