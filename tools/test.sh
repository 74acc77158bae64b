#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs CTest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/build.sh"
build=${AZ_BUILD_DIR:-$top/build}
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
