#!/usr/bin/env bash
# Configures and builds into build/ (or $AZ_BUILD_DIR), Release with checks.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/deps.sh"
build=${AZ_BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=${AZ_BUILD_TYPE:-RelWithDebInfo} -DAZ_BENCH=${AZ_BENCH:-OFF} ${AZ_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
