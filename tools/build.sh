#!/usr/bin/env bash
# Configures and builds into build/ (or $AZ_BUILD_DIR), Release with checks.
# Arguments name the targets to build (default: all).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/deps.sh"
build=${AZ_BUILD_DIR:-$top/build}
start=$(date +%s)
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=${AZ_BUILD_TYPE:-RelWithDebInfo} -DAZ_BENCH=${AZ_BENCH:-OFF} ${AZ_CMAKE_ARGS:-} >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
echo "build: $(( $(date +%s) - start )) s"
