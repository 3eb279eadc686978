#!/bin/sh
# Runs one Windows test program under Wine in the prepared prefix and passes
# on its exit code.
#
#   run_wine_program.sh WINE_DIR WINE_LOADER PROGRAM OUTPUT_FILE
#
# The program's output goes to OUTPUT_FILE first, then to ours: Wine's own
# processes (wineserver lingers a few seconds) must not hold the test
# runner's pipes open.
set -u
wine_dir=$1 loader=$2 program=$3 output=$4
if [ ! -f "$wine_dir/prefix/system.reg" ]; then
  echo "no prepared Wine prefix in $wine_dir/prefix: run scripts/wine-test.sh --prepare-only"
  exit 1
fi
WINEPREFIX=$wine_dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  env -u DISPLAY "$loader" "$program" >"$output" 2>&1 </dev/null
status=$?
cat "$output"
exit $status
