#!/bin/bash
# The Windows side, run for real under Wine, for both widths.
#
#   scripts/wine-test.sh                 prepare, then run the Wine tests (ctest -L wine)
#   scripts/wine-test.sh --prepare-only  prepare only; then configure any Linux
#                                        build with -DIT433TD_WINE_DIR=<folder>
#
# Preparing (kept out of the timed tests):
#   1. cross-builds with mingw-w64 (scripts/build-windows.sh): win64/ (x86_64,
#      run under wine64) and win32/ (i686, run under Wine's 32-bit loader from
#      Debian's wine32:i386);
#   2. one private Wine prefix for both (a 64-bit prefix, which runs 32-bit
#      programs as 64-bit Windows does), initialised once (wineboot), whose
#      COM1 is registered to ports/com1, a link the test points at a
#      pseudo-terminal.
# Everything lands in IT433TD_WINE_WORK (default: build-wine in the source tree).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${IT433TD_WINE_WORK:-$root/build-wine}
prepare_only=0
[[ ${1:-} == --prepare-only ]] && prepare_only=1

export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
# No Mono or Gecko install prompts: the host is a console program.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wine32=/usr/lib/wine/wine
widths="x86_64 i686"
if [[ ! -x $wine32 ]]; then
  # The suite then reports the i686 cases as not run (wine.i686_not_run).
  echo "wine-test.sh: WARNING: Wine's 32-bit loader $wine32 is missing, so the i686 width" \
       "will not run; install wine32:i386 (scripts/deps.sh test does: dpkg --add-architecture" \
       "i386, then apt-get install wine32:i386)" >&2
  widths="x86_64"
fi
mkdir -p "$work/ports"

step() { printf '== %s\n' "$*"; }

step "Windows cross-builds"
"$root/scripts/build-windows.sh" "$work"

# The marker names the COM1 link and the widths the prefix was made for: a
# prefix made before wine32 was installed lacks the 32-bit system files, and
# is brought up to date (wineboot -u) rather than made anew.
port_link=$work/ports/com1
marker="$port_link $widths"
if [[ $(cat "$WINEPREFIX/.it433td-com1" 2>/dev/null) != "$marker" ]]; then
  step "Wine prefix $WINEPREFIX (first start, once)"
  boot=-i
  [[ -f $WINEPREFIX/system.reg ]] && boot=-u
  "$wine64" wineboot "$boot" >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
  # Wine reads its ports from the registry's 64-bit view: the 64-bit reg.exe.
  "$wine64" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$port_link" /f >/dev/null
  wineserver -w  # the next start maps COM1 from the registry
  echo "$marker" >"$WINEPREFIX/.it433td-com1"
fi

if ((prepare_only)); then
  echo "prepared: configure a Linux build with -DIT433TD_WINE_DIR=$work"
  exit 0
fi

step "Linux build of the Wine tests"
cmake -S "$root" --preset linux -B "$work/linux" -Wno-dev -DBUILD_TESTING=ON -DIT433TD_WINE_DIR="$work" \
  >"$work/configure-linux.log" ||
  { cat "$work/configure-linux.log"; exit 1; }
cmake --build "$work/linux" -j2 --target wine_capture wine_run_checks wine_two_tills dll_checks test_device_wine \
  >"$work/build-linux.log" || { cat "$work/build-linux.log"; exit 1; }

step "Wine tests"
ctest --test-dir "$work/linux" -L wine -j4 --output-on-failure
