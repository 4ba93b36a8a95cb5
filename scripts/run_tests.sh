#!/usr/bin/env bash
# Builds with warnings as errors and runs every test: the host-free kernel
# tests and the plug-in tests inside Octave.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh -DRASTER_MAPS_WERROR=ON
cd build
ctest --output-on-failure -j "$(nproc)"
