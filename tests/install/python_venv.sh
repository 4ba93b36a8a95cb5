#!/usr/bin/env bash
# Makes VENV afresh, a virtual environment that sees Debian's packages
# (numpy, pytest, xarray, dask), and pip installs raster_maps into it from
# the checkout SOURCE, offline, reusing the build folder BUILD.
#   python_venv.sh VENV BUILD SOURCE
set -euo pipefail
venv=$1
build=$2
source=$3
rm -rf "$venv"
/usr/bin/python3 -m venv --system-site-packages "$venv"
# The environment also sees the system's packages, which may hold this very
# version already; it must get its own copy all the same.
"$venv/bin/python" -m pip install --quiet --no-index --no-build-isolation --ignore-installed \
  --no-deps --config-settings build-dir="$build" "$source"
cd /
"$venv/bin/python" -c 'import raster_maps as rm; print("raster_maps", rm.__version__, "in", rm.__file__)'
