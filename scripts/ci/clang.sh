#!/usr/bin/env bash
# CI job: the core, plug-ins, tool, tests and benchmarks built with clang++-14
# and warnings as errors (build-clang/), and the C++ tests run: the same bits
# from another compiler. The Python module, and the Octave, Python, R and
# install checks, run in the gcc and sanitize jobs.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh --build-dir build-clang -DCMAKE_CXX_COMPILER=clang++-14 \
  -DRASTER_MAPS_WERROR=ON -DRASTER_MAPS_TEST_R=OFF -DRASTER_MAPS_TEST_INSTALL=OFF \
  -DRASTER_MAPS_BUILD_PYTHON=OFF
ctest --test-dir build-clang --output-on-failure -j "$(nproc)" -E '^(octave|python)\.'
