#!/usr/bin/env bash
# CI job: everything (core, plug-ins, tests, benchmarks) built with clang++-14
# and warnings as errors (build-clang/), and every test run.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh --build-dir build-clang -DCMAKE_CXX_COMPILER=clang++-14 \
  -DRASTER_MAPS_WERROR=ON -DRASTER_MAPS_TEST_R=OFF -DRASTER_MAPS_TEST_INSTALL=OFF
ctest --test-dir build-clang --output-on-failure -j "$(nproc)"
