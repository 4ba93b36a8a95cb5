#!/usr/bin/env bash
# Installs what the build needs (Debian 12 packages; run as root) when it is
# missing, then configures and builds into build/. Sourced by run_example.sh
# and run_tests.sh; extra CMake options may be passed as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make libgtest-dev libbenchmark-dev octave liboctave-dev libgdal-dev gdal-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing ${missing[*]} ..."
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build -j "$(nproc)"
