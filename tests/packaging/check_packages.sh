#!/usr/bin/env bash
# The packages as a team gets them, without installing anything into the
# system:
#   1. every .deb unpacked into one scratch folder; nothing in it needs a
#      sanitizer runtime; dpkg-shlibdeps gave the compiled packages their
#      library dependencies, and the others depend on the runtime package;
#   2. the C sample (examples/c/receipt.c) built through pkg-config against
#      the unpacked files, and the Python sample run by Debian's
#      /usr/bin/python3 from the binding's package and the runtime alone (no
#      pip, no development files), both printing on the unpacked it433td's
#      virtual printer (emulate); pytest loads the package's plugin;
#   3. the i686 zip unpacked, its stand-ins put beside Pkg_Vossik.dll as its
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
    [[ $(head -c 4 "$file") == $'\x7fELF' ]] || continue
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
done
echo "unpacked, none needs a sanitizer runtime: ${debs[*]##*/}"

# The virtual printer of the tools package, under the port name COM1.
printer=$scratch/printer
mkdir -p "$printer/ports" "$printer/out"
"$root/usr/bin/it433td" emulate --port COM1 --out "$printer/out" --ports-dir "$printer/ports" \
  >"$printer/emulate.txt" 2>&1 &
emulate=$!
trap 'kill "$emulate" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q ready "$printer/emulate.txt" && break
  sleep 0.1
done
grep -q ready "$printer/emulate.txt" || fail "it433td emulate did not start: $(cat "$printer/emulate.txt")"
export IT433TD_PORTS=$printer/ports

# The C sample, built as its comment says, with the unpacked pkg-config file.
sample=$scratch/c
mkdir -p "$sample/Dados"
export PKG_CONFIG_PATH=$root/usr/lib/pkgconfig
# shellcheck disable=SC2046 # pkg-config's flags are words
cc "$source/examples/c/receipt.c" -o "$sample/receipt" $(pkg-config --cflags --libs it433td) -ldl \
   -Wl,-rpath,"$(pkg-config --variable=libdir it433td)"
(cd "$sample" && ./receipt COM1) || fail "the C sample failed"

# The Python sample on Debian's own Python, with only the binding's package
# and the runtime it depends on (not the development files).
python=$scratch/python
mkdir -p "$python/dados"
(cd "$python" && PYTHONPATH=$scratch/each/python3-it433td/usr/lib/python3/dist-packages \
   LD_LIBRARY_PATH=$scratch/each/libpkg-vossik6/usr/lib \
   /usr/bin/python3 "$source/examples/python/receipt.py" COM1) || fail "the Python sample failed"
# Its pytest plugin, found by pytest itself through the package's metadata
# (a folder without tests: pytest's status is 5).
plugins=$(PYTHONPATH=$scratch/each/python3-it433td/usr/lib/python3/dist-packages /usr/bin/python3 \
  -m pytest --trace-config --co -q -p no:cacheprovider "$python/dados" 2>&1 || true)
grep -q 'it433td.pytest_plugin' <<<"$plugins" || fail "pytest does not load the package's plugin: $plugins"

kill -TERM "$emulate"
wait "$emulate" || fail "it433td emulate ended badly: $(cat "$printer/emulate.txt")"
trap - EXIT
transcripts=("$printer"/out/*.txt)
((${#transcripts[@]} == 2)) || fail "${#transcripts[@]} receipts printed, not 2: ${transcripts[*]}"
for transcript in "${transcripts[@]}"; do
  grep -q 'QR "https://nfce.exemplo.com.br/consulta?p=42"' "$transcript" &&
    grep -q '\[CODE128 "PEDIDO-0042"\]' "$transcript" && grep -q '\[CUT\]' "$transcript" ||
    fail "$transcript lacks the QR code, the CODE128 or the cut: $(cat "$transcript")"
done
echo "the C and Python samples printed through the unpacked packages"

# The i686 zip: the module, and the stand-ins beside it (there are no
# vendor libraries on this machine), with the 32-bit test host.
zips=("$packages"/*-windows-i686.zip)
[[ -f ${zips[0]} ]] || fail "no i686 zip in $packages"
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
echo "the 32-bit Windows host printed through the i686 zip under Wine"
