#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demo.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/build.sh"
build=${AZ_BUILD_DIR:-$top/build}
exec "$build/azozude" "${@:-info}"
