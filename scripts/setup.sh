#!/usr/bin/env bash
# Installs what the build and the CI jobs need (Debian 12 packages; run as
# root) when it is missing, then configures and builds into build/ (or the
# folder given). From build/ it then installs copies that do not depend on
# the checkout: the Python package raster_maps into Debian's /usr/bin/python3
# and the R package rastermaps into R's site library. Run by run_example.sh
# and by each job of run_tests.sh.
#
#   bash scripts/setup.sh [--build-dir DIR] [CMake options...]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
if [[ ${1:-} == --build-dir ]]; then
  build_dir=$2
  shift 2
fi

# g++ brings the sanitizer runtimes (libasan8, libubsan1) that the sanitized
# plug-ins load into Octave; clang-14, its runtimes and libFuzzer build the
# clang job and the fuzz targets.
packages=(g++ cmake make libgtest-dev libbenchmark-dev octave liboctave-dev
          libasan8 libubsan1 clang-14 libclang-rt-14-dev libfuzzer-14-dev
          libgdal-dev gdal-bin libcli11-dev
          python3-dev pybind11-dev python3-venv python3-pip python3-build python3-numpy python3-pytest python3-scipy python3-xarray
          python3-rioxarray python3-dask python3-distributed python3-matplotlib
          r-base-dev r-cran-rcpp r-cran-terra r-cran-testthat)
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

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=/usr/bin/python3 "$@"
cmake --build "$build_dir" -j "$(nproc)"

# `import raster_maps` in Debian's python3: pip installs the package built in
# build/ (through pyproject.toml's backend, which reuses that folder) into
# /usr/local/lib/python3.11/dist-packages. Debian's Python is externally
# managed (PEP 668): /usr/local is the part of it that Debian leaves to the
# machine's administrator and never touches, and --break-system-packages is
# pip's way of being told that this install there is meant. The copy is
# reinstalled on every run, so it is always this checkout's build. A
# raster_maps.pth written by earlier set-ups pointed at a checkout; it goes.
if [[ $build_dir == build && -d build/python/raster_maps ]]; then
  site=$(/usr/bin/python3 -c 'import site; print(site.getsitepackages()[0])')
  rm -f "$site/raster_maps.pth"
  /usr/bin/python3 -m pip install --quiet --break-system-packages --root-user-action=ignore \
    --no-index --no-build-isolation --no-deps --force-reinstall \
    --config-settings build-dir="$PWD/build" .
fi

# `library(rastermaps)` in R: the package staged with this checkout's core,
# installed into R's site library (/usr/local/lib/R/site-library).
if [[ $build_dir == build ]]; then
  bash scripts/r_package.sh --build-dir build install
fi
