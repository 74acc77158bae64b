#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the main job need,
# only when one is missing (a fresh Debian 12 machine, as root).
set -euo pipefail
packages=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libgdcm-dev libgdcm-tools libnifti2-dev zlib1g-dev libosmesa6-dev
  libfreetype-dev fonts-liberation libpng-dev mricron-data python3-pydicom
  libglfw3-dev libx11-dev libxrandr-dev xvfb x11-apps dicom3tools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
