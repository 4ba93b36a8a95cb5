#!/usr/bin/env bash
# Runs every benchmark in one go, so the numbers come from the same machine
# state and compare: the C++ kernels (bench_maps), the plug-ins in Octave with
# one thread and with the default, then the OpenCV equivalents. Build first
# (bash scripts/setup.sh); this script installs nothing.
# Run from the top of the repository: bash bench/run_benchmarks.sh
set -euo pipefail
cd "$(dirname "$0")/.."

for f in build/bench/bench_maps build/bench/floor_mex.mex build/octave/Varnok.mex; do
  if [[ ! -e $f ]]; then
    echo "$f is missing; build first with: bash scripts/setup.sh" >&2
    exit 1
  fi
done

echo "=== C++ map kernels (bench_maps) ==="
build/bench/bench_maps

octave_bench() {
  octave-cli --norc --no-history --quiet \
    --eval "addpath('build/octave','build/bench','bench'); octave_bench()"
}

echo
echo "=== Plug-ins in Octave, RASTER_MAPS_THREADS=1 ==="
RASTER_MAPS_THREADS=1 octave_bench

echo
echo "=== Plug-ins in Octave, RASTER_MAPS_THREADS unset ==="
(unset RASTER_MAPS_THREADS; octave_bench)

# python3 may be another interpreter (e.g. pyenv) than the Debian one that
# python3-opencv installs into, so try both.
echo
echo "=== OpenCV equivalents ==="
python=""
for p in python3 /usr/bin/python3; do
  if command -v "$p" > /dev/null && "$p" -c "import cv2, numpy" 2> /dev/null; then
    python=$p
    break
  fi
done
if [[ -z $python ]]; then
  echo "Skipped: no python3 with cv2 and numpy. Install them with:"
  echo "  apt-get install python3-opencv"
else
  "$python" bench/opencv_bench.py
fi

echo
echo "=== Python: raster_maps against scipy.ndimage, dask against in memory ==="
PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py
