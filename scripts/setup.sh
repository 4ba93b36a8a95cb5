#!/usr/bin/env bash
# Installs what the build needs (Debian 12 packages; run as root) when it is
# missing, then configures and builds into build/, and points Debian's
# /usr/bin/python3 at the built Python package. Sourced by run_example.sh
# and run_tests.sh; extra CMake options may be passed as arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake make libgtest-dev libbenchmark-dev octave liboctave-dev libgdal-dev gdal-bin
          python3-dev pybind11-dev python3-numpy python3-pytest python3-scipy python3-xarray
          python3-rioxarray python3-dask python3-distributed python3-matplotlib)
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

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=/usr/bin/python3 "$@"
cmake --build build -j "$(nproc)"

# `import raster_maps` in Debian's python3 finds this build's package.
site=$(/usr/bin/python3 -c 'import site; print(site.getsitepackages()[0])')
mkdir -p "$site"
echo "$PWD/build/python" > "$site/raster_maps.pth"
