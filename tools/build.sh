#!/usr/bin/env bash
# Configures with the CMake preset "default" (Release with debug
# information, no benchmarks) and builds, into build/ or $AZ_BUILD_DIR.
# Arguments name the targets to build (default: all).  AZ_BUILD_TYPE,
# AZ_BENCH=ON and AZ_CMAKE_ARGS override the preset's settings.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/deps.sh"
build=${AZ_BUILD_DIR:-$top/build}
start=$(date +%s)
overrides=()
[ -n "${AZ_BUILD_TYPE:-}" ] && overrides+=(-DCMAKE_BUILD_TYPE="$AZ_BUILD_TYPE")
[ -n "${AZ_BENCH:-}" ] && overrides+=(-DAZ_BENCH="$AZ_BENCH")
# shellcheck disable=SC2086  # AZ_CMAKE_ARGS holds several words
(cd "$top" && cmake --preset default -B "$build" "${overrides[@]}" ${AZ_CMAKE_ARGS:-} >/dev/null)
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
echo "build: $(( $(date +%s) - start )) s"
