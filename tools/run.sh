#!/usr/bin/env bash
# The main job: installs what is missing, builds the host program and the
# module (not the tests), and runs `azozude ARGS` (default: info).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/build.sh" azozude
build=${AZ_BUILD_DIR:-$top/build}
exec "$build/azozude" "${@:-info}"
