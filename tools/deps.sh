#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the main job need,
# only when one is missing (a fresh Debian 12 machine, as root).  The list is
# complete for a minimal Debian 12: nothing is taken from the machine.
#   tools/deps.sh          what the build, the tests and the main job need
#   tools/deps.sh fuzz     and clang with its fuzzer runtime (tools/fuzz.sh)
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libgdcm-dev libgdcm-tools libnifti2-dev zlib1g-dev libdeflate-dev libosmesa6-dev
  libfreetype-dev fonts-liberation libpng-dev mricron-data python3-pydicom
  libglfw3-dev libx11-dev libxrandr-dev xvfb x11-apps dicom3tools)
# "clang" brings the unversioned clang and clang++ names the fuzz build uses.
[ "${1:-}" = fuzz ] && packages+=(clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "deps: missing ${missing[*]}; run this as root, or: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
start=$(date +%s)
log=$(mktemp /tmp/azozude-deps.XXXX.log)
echo "deps: installing ${#missing[@]} packages: ${missing[*]} (log $log)"
export DEBIAN_FRONTEND=noninteractive
if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  tail -n 20 "$log" >&2
  echo "deps: installing failed; the whole log is $log" >&2
  exit 1
fi
echo "deps: installed in $(( $(date +%s) - start )) s"
