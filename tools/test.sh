#!/usr/bin/env bash
# The whole test suite: installs what is missing, then
#   1. the normal build and every test,
#   2. the AddressSanitizer + UndefinedBehaviorSanitizer build and every test,
#   3. the ThreadSanitizer build and the tests that run threads (label threads),
#   4. each fuzz program for AZ_FUZZ_SECONDS (default 30) seconds.
# AZ_QUICK=1 runs step 1 only.  Extra arguments go to the step-1 ctest.
# Every step runs; the result is failure when any step failed.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
start=$(date +%s)
failed=()

# Every step's output also goes to one log, from which the closing line
# adds up the test counts of the ctest runs.
log=$(mktemp)
trap 'rm -f "$log"' EXIT

step() {
  local name=$1
  shift
  local begin=$(date +%s)
  echo "== $name"
  "$@" 2>&1 | tee -a "$log"
  if [ "${PIPESTATUS[0]}" -eq 0 ]; then
    echo "== $name: passed ($(( $(date +%s) - begin )) s)"
  else
    echo "== $name: FAILED ($(( $(date +%s) - begin )) s)"
    failed+=("$name")
  fi
}

normal() {
  bash "$top/tools/build.sh" || return 1
  (cd "$top" && ctest --preset default --test-dir "${AZ_BUILD_DIR:-$top/build}" -j"$(nproc)" "$@")
}

step "build and tests" normal "$@"
if [ "${AZ_QUICK:-0}" != 1 ]; then
  step "address and undefined-behaviour sanitizers" bash "$top/tools/sanitize.sh" address
  step "thread sanitizer" bash "$top/tools/sanitize.sh" thread
  if [ "${AZ_FUZZ_SECONDS:-30}" -gt 0 ]; then
    step "fuzzing" bash "$top/tools/fuzz.sh" "${AZ_FUZZ_SECONDS:-30}"
  fi
fi
echo "test.sh: $(( $(date +%s) - start )) s in all"
# ctest closes with "N% tests passed, F tests failed out of T".
read -r total failures < <(grep -oE '[0-9]+ tests failed out of [0-9]+' "$log" |
  awk '{ f += $1; t += $6 } END { print t + 0, f + 0 }')
[ ${#failed[@]} -gt 0 ] && [ "$failures" -eq 0 ] && failures=1   # a step failed outside ctest
[ ${#failed[@]} -gt 0 ] && echo "test.sh: failed: ${failed[*]}"
echo "tests: $(( total - failures < 0 ? 0 : total - failures )) passed, $failures failed"
[ ${#failed[@]} -eq 0 ]
