#!/usr/bin/env bash
# Fuzzes every parser that takes bytes from outside with libFuzzer (clang,
# AddressSanitizer and UndefinedBehaviorSanitizer), as many targets at once
# as there are cores, each on a core of its own for its whole time:
#
#   scripts/fuzz.sh                      20 seconds a target (the test command's run)
#   scripts/fuzz.sh --long SECONDS       as long as asked, a target
#   scripts/fuzz.sh --build-only         build the targets, fuzz nothing
#   scripts/fuzz.sh ... TARGET...        only these (names as in the table below)
#
# Each target starts from its committed seeds (tests/<folder>/corpus_<name>,
# only read) and keeps what it grows in build-fuzz/corpus/<name>. A finding
# (crash, sanitizer report, failed property, timeout, memory blow-up) fails
# the run: its report and stack are printed whole, its input is saved under
# build-fuzz/findings/<name>/, and the command that replays it is printed.
# Every target runs even after a finding; the summary gives inputs a second.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
build_only=0
wanted=()
while (($#)); do
  case $1 in
    --long)
      [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || { echo "fuzz.sh: --long needs a number of seconds" >&2; exit 2; }
      seconds=$2
      shift 2 ;;
    --build-only) build_only=1; shift ;;
    -h | --help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) wanted+=("$1"); shift ;;
  esac
done

# name            seeds                                       max input bytes
# (a BMP reader needs no more than 1 KiB: pictures grow by repeating rows)
targets=(
  "stream_decoder  tests/printer/corpus_stream_decoder          4096"
  "decoder         tests/printer/corpus                         4096"
  "escpos          tests/printer/escpos_jobs                    8192"
  "bmp_codec       tests/standins/barcode/corpus_bmp_codec      1024"
  "receipt_file    tests/tools/host/corpus_receipt_file         4096"
  "unified_diff    tests/tools/emulator/run/corpus_unified_diff 4096"
  "golden_folder   tests/tools/emulator/run/corpus_golden_folder 1024"
  "port_names      tests/contract/corpus_port_names             1024"
)
known=" $(for t in "${targets[@]}"; do read -r n _ <<<"$t"; printf '%s ' "$n"; done)"
for name in "${wanted[@]}"; do
  [[ $known == *" $name "* ]] || { echo "fuzz.sh: no target $name (targets:$known)" >&2; exit 2; }
done
selected() { ((${#wanted[@]} == 0)) || [[ " ${wanted[*]} " == *" $1 "* ]]; }

build=build-fuzz
mkdir -p "$build"
log=$build/configure-and-build.log
names=()
for t in "${targets[@]}"; do
  read -r name _ <<<"$t"
  if selected "$name"; then names+=("fuzz_$name"); fi
done
# Configured once; the build re-runs the configuration when a CMake file changes.
if ! { { [[ -f $build/CMakeCache.txt ]] || cmake --preset linux-fuzz -B "$build"; } &&
       cmake --build "$build" -j"$(nproc)" --target "${names[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "fuzz.sh: building the fuzz targets failed (log above, also in $log)" >&2
  exit 2
fi
((build_only)) && exit 0

# A UBSan report ends the run with its stack, as ASan's does.
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Runs one target for its time; its exit status is kept in its log folder.
fuzz_one() {
  local name=$1 seeds=$2 max_len=$3
  local corpus=$build/corpus/$name findings=$build/findings/$name out=$build/logs/$name.log
  mkdir -p "$corpus" "$findings" "$build/logs"
  rm -f "$build/logs/$name.status"
  echo "== fuzz_$name: ${seconds} s (log: $out)"
  # Slow inputs (a tall picture, a long receipt) get less of the time, so
  # the many fast ones are not starved; a single input over 10 s is a finding.
  local status=0
  "$build/bin/fuzz_$name" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -entropic_scale_per_exec_time=1 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "$seeds" >"$out" 2>&1 || status=$?
  echo "$status" >"$build/logs/$name.status"
}

# One target a core: each gets the same time and the same core as alone.
running=0
for t in "${targets[@]}"; do
  read -r name seeds max_len <<<"$t"
  selected "$name" || continue
  if ((running == $(nproc))); then
    wait -n
    ((running--))
  fi
  fuzz_one "$name" "$seeds" "$max_len" &
  ((++running))
done
wait

failed=0
summary=()
for t in "${targets[@]}"; do
  read -r name _ <<<"$t"
  selected "$name" || continue
  out=$build/logs/$name.log
  status=$(cat "$build/logs/$name.status" 2>/dev/null || echo "no status")
  runs=$(awk '/^stat::number_of_executed_units:/ { print $2 }' "$out")
  rate=$(awk '/^stat::average_exec_per_sec:/ { print $2 }' "$out")
  if [[ $status == 0 ]]; then
    summary+=("$(printf '%-16s %12s %10s   ok' "$name" "${runs:-?}" "${rate:-?}")")
    continue
  fi
  failed=1
  summary+=("$(printf '%-16s %12s %10s   FINDING' "$name" "${runs:-?}" "${rate:-?}")")
  # The report from its first line to the end: the sanitizer's or
  # libFuzzer's error, the stack, and the input's name. If no such line is
  # found the whole log is shown.
  start=$(grep -n -m1 -E '^==[0-9]+==|runtime error:|^INFO: libFuzzer: |deadly signal|ERROR: libFuzzer' "$out" |
    cut -d: -f1 || true)
  echo "-- fuzz_$name found a fault (exit status $status):"
  tail -n +"${start:-1}" "$out"
  input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$out" | tail -n 1)
  if [[ -n $input ]]; then
    echo "-- the input is saved as $input; replay it from the project's root with:"
    echo "   $build/bin/fuzz_$name $input"
  else
    echo "-- no input was saved; the whole log is $out"
  fi
done

echo "== fuzzing done, ${seconds} s a target"
printf '%-16s %12s %10s   %s\n' target inputs inputs/s result
printf '%s\n' "${summary[@]}"
if ((failed)); then
  echo "fuzz.sh: a target found a fault (above); its input is kept under $build/findings" >&2
  exit 1
fi
