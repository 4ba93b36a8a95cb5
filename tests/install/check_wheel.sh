#!/usr/bin/env bash
# Builds a wheel with python3 -m build (offline, reusing the build folder
# BUILD), installs it into a fresh virtual environment and imports it from
# outside the checkout: the version, one map, and that the package came from
# the environment.
#   check_wheel.sh BUILD SOURCE VERSION
set -euo pipefail
build=$1
source=$2
version=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
/usr/bin/python3 -m build --wheel --no-isolation -C build-dir="$build" --outdir "$tmp/dist" \
  "$source" > "$tmp/build.log" || { cat "$tmp/build.log"; exit 1; }
wheel=$(ls "$tmp"/dist/*.whl)
echo "built $(basename "$wheel")"
/usr/bin/python3 -m venv --system-site-packages "$tmp/venv"
# The environment also sees the system's packages, which may hold this very
# version already; it must get its own copy all the same.
"$tmp/venv/bin/python" -m pip install --quiet --no-index --ignore-installed --no-deps "$wheel"
cd "$tmp"
"$tmp/venv/bin/python" - "$tmp/venv" "$version" <<'PY'
import os, sys
import numpy as np
import raster_maps
venv, version = sys.argv[1:]
assert raster_maps.__version__ == version, raster_maps.__version__
assert raster_maps.__file__.startswith(venv + os.sep), raster_maps.__file__
labels = np.ones((30, 30), np.int32)
out = raster_maps.varnok([0.5], 3, labels)
assert out[11, 11] == 0.5 and out[0, 0] == 0, out
print("raster_maps", version, "from", os.path.dirname(raster_maps.__file__))
PY
