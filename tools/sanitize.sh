#!/usr/bin/env bash
# Sanitizer run: tools/sanitize.sh [address|thread] [extra ctest arguments]
#   address: AddressSanitizer + UndefinedBehaviorSanitizer + LeakSanitizer,
#            the whole test suite, in build-asan/ (preset "asan").
#   thread:  ThreadSanitizer, the tests labelled "threads" (the ones that
#            run more than one thread), in build-tsan/ (preset "tsan").
# Optimised at -O1 (readable stacks, bearable speed) without benchmarks; the
# sanitizers' options are the test presets' (CMakePresets.json).
# Prints the number of sanitizer reports; exits non-zero on any report or
# failed test.
set -uo pipefail
mode=${1:-address}
shift || true
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=${AZ_JOBS:-$(nproc)}

case "$mode" in
  address) preset=asan build=${AZ_ASAN_BUILD_DIR:-$top/build-asan} ;;
  thread)  preset=tsan build=${AZ_TSAN_BUILD_DIR:-$top/build-tsan} ;;
  *) echo "usage: $0 [address|thread] [ctest arguments]" >&2; exit 2 ;;
esac

bash "$top/tools/deps.sh"
cd "$top" || exit 1
# shellcheck disable=SC2086  # AZ_CMAKE_ARGS holds several words
cmake --preset "$preset" -B "$build" ${AZ_CMAKE_ARGS:-} >/dev/null || exit 1
# A test program that does not build (work in progress elsewhere) must not
# hide the reports of the others: build what builds, run, fail at the end.
cmake --build "$build" -j"$jobs" -- -k
built=$?

# The test presets set the sanitizers' options (the caller's own are
# appended): halt_on_error fails a test at its first report instead of
# scrolling it by; allocator_may_return_null gives an impossible size (from
# a bad file header) null as in a release build, so that the refusal path is
# what is tested; LP_NUM_THREADS=0 draws OpenGL on the calling thread, since
# the software renderer's worker threads synchronise through futexes the
# thread sanitizer cannot see (same pictures, no false reports).
log="$build/sanitize-$mode.log"
ctest --preset "$preset" --test-dir "$build" -j"$jobs" "$@" >"$log" 2>&1
status=$?
tail -n 40 "$log"
reports=$(grep -cE 'ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|WARNING: ThreadSanitizer' "$log")
echo "sanitize $mode: $reports sanitizer report(s); ctest status $status; log $log"
[ "$built" -eq 0 ] || echo "sanitize $mode: some targets did not build"
[ "$built" -eq 0 ] && [ "$status" -eq 0 ] && [ "$reports" -eq 0 ]
