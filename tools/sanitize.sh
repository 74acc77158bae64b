#!/usr/bin/env bash
# Sanitizer run: tools/sanitize.sh [address|thread] [extra ctest arguments]
#   address: AddressSanitizer + UndefinedBehaviorSanitizer + LeakSanitizer,
#            the whole test suite, in build-asan/.
#   thread:  ThreadSanitizer, the tests that run more than one thread, in
#            build-tsan/.
# Optimised at -O1 (readable stacks, bearable speed) without benchmarks.
# Prints the number of sanitizer reports; exits non-zero on any report or
# failed test.
set -uo pipefail
mode=${1:-address}
shift || true
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=${AZ_JOBS:-$(nproc)}

case "$mode" in
  address) build=${AZ_ASAN_BUILD_DIR:-$top/build-asan} ;;
  thread)  build=${AZ_TSAN_BUILD_DIR:-$top/build-tsan} ;;
  *) echo "usage: $0 [address|thread] [ctest arguments]" >&2; exit 2 ;;
esac

# Tests whose names say they run threads (workers, painters, queues and
# windows across threads, progress from the worker, the stress cases).
threaded='Thread|Worker|Concurr|Stress|Race|Lock|Paint|Apply\.|Progress\.|Queue\.|Messages\.'

bash "$top/tools/deps.sh"
cmake -S "$top" -B "$build" -DAZ_SANITIZE="$mode" -DAZ_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" ${AZ_CMAKE_ARGS:-} >/dev/null || exit 1
# A test program that does not build (work in progress elsewhere) must not
# hide the reports of the others: build what builds, run, fail at the end.
cmake --build "$build" -j"$jobs" -- -k
built=$?

# halt_on_error: a report fails its test at once instead of scrolling by.
# allocator_may_return_null: an impossible size (from a bad file header)
# gets null as in a release build, so the refusal path is what is tested.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:allocator_may_return_null=1:strict_string_checks=1:detect_stack_use_after_return=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$top/tools/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
# The software OpenGL renderer's worker threads synchronise through futexes
# the thread sanitizer cannot see; drawing on the calling thread alone gives
# the same pictures without false reports from inside that library.
export LP_NUM_THREADS=0

log="$build/sanitize-$mode.log"
filter=()
[ "$mode" = thread ] && filter=(-R "$threaded")
cd "$build"
ctest --output-on-failure -j"$jobs" "${filter[@]}" "$@" >"$log" 2>&1
status=$?
tail -n 40 "$log"
reports=$(grep -cE 'ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|WARNING: ThreadSanitizer' "$log")
echo "sanitize $mode: $reports sanitizer report(s); ctest status $status; log $log"
[ "$built" -eq 0 ] || echo "sanitize $mode: some targets did not build"
[ "$built" -eq 0 ] && [ "$status" -eq 0 ] && [ "$reports" -eq 0 ]
