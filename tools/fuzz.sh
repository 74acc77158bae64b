#!/usr/bin/env bash
# Fuzzing: tools/fuzz.sh [seconds per target, default 60] [targets...]
# Targets: nifti dicom labels header (default: all).  Builds the libFuzzer
# programs with clang into build-fuzz/ (preset "fuzz"), writes the seed corpus, runs each
# target for the given time and prints executions and corpus size.  Inputs
# that crash are kept in build-fuzz/crashes/<target>/; copy them into
# fuzz/regressions/<target>/ so that the normal test run replays them.
set -uo pipefail
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(nifti dicom labels header)
top=$(cd "$(dirname "$0")/.." && pwd)
build=${AZ_FUZZ_BUILD_DIR:-$top/build-fuzz}
jobs=${AZ_JOBS:-$(nproc)}

bash "$top/tools/deps.sh" fuzz

(cd "$top" && cmake --preset fuzz -B "$build" >/dev/null) || exit 1
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}" || exit 1

python3 "$top/fuzz/make_seeds.py" "$build/seeds" || exit 1
# A refused allocation must be handled as in a release build (null), not
# reported by the sanitizer; libFuzzer still flags allocations over 2 GB.
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$top/tools/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
status=0
printf '%-8s %12s %8s %8s\n' target executions corpus crashes
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  crashes="$build/crashes/$t"
  # Only this run's findings: known ones live in fuzz/regressions and fuzz/open.
  rm -rf "$crashes"
  mkdir -p "$corpus" "$crashes"
  log="$build/fuzz-$t.log"
  # The known regressions join the seeds so that fixed crashes stay fixed.
  inputs=("$corpus" "$build/seeds/$t")
  [ -d "$top/fuzz/regressions/$t" ] && inputs+=("$top/fuzz/regressions/$t")
  extra=()
  # The DICOM reader tries each file in a child process, which the
  # library's assertions may abort.  The reader refuses a file whatever way
  # the child ends, but libFuzzer's abort handler, inherited by the child,
  # would also record the input as a crash of the fuzzer itself.
  [ "$t" = dicom ] && extra=(-handle_abrt=0)
  # Fork mode goes on after a crash, so one run collects every distinct one.
  "$build/fuzz_$t" "${inputs[@]}" "${extra[@]}" \
    -fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1 \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$crashes/" >"$log" 2>&1
  runs=$(grep -oE '^#[0-9]+:' "$log" | tail -1 | tr -d '#:')
  found=$(find "$crashes" -type f -name 'crash-*' | wc -l)
  heavy=$(find "$crashes" -type f ! -name 'crash-*' | wc -l)
  printf '%-8s %12s %8s %8s %s\n' "$t" "${runs:-0}" "$(find "$corpus" "$build/seeds/$t" -type f | wc -l)" "$found" \
    "$([ "$heavy" -gt 0 ] && echo "($heavy slow or memory-hungry inputs)")"
  # Crashes fail the run; inputs that only take long or ask for too much
  # memory are reported for the reader's authors to bound.
  if [ "$found" -gt 0 ] || ! grep -q 'INFO: fuzzed for' "$log"; then
    echo "fuzz: $t crashed, see $log and $crashes" >&2
    status=1
  elif [ "$heavy" -gt 0 ]; then
    echo "fuzz: $t: slow or memory-hungry inputs in $crashes" >&2
  fi
done
exit $status
