#!/usr/bin/env bash
# CI job: the release build with g++ and warnings as errors (build/), and
# every test: the host-free kernel tests and the plug-ins inside Octave.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh -DRASTER_MAPS_WERROR=ON
ctest --test-dir build --output-on-failure -j "$(nproc)"
