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
"$venv/bin/python" -m pip install --quiet --no-index --no-build-isolation \
  --config-settings build-dir="$build" "$source"
"$venv/bin/python" -m pip show raster-maps | head -2
