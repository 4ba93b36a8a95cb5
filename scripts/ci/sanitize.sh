#!/usr/bin/env bash
# CI job: everything built with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/) and every test run under them; the Octave tests load the
# sanitized plug-ins with the sanitizer runtimes preloaded. Any sanitizer
# report fails its test.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/setup.sh --build-dir build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRASTER_MAPS_SANITIZE=ON -DRASTER_MAPS_WERROR=ON -DRASTER_MAPS_BUILD_BENCH=OFF \
  -DRASTER_MAPS_BUILD_PYTHON=OFF -DRASTER_MAPS_TEST_R=OFF
ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
