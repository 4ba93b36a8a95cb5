#!/usr/bin/env bash
# CI job: a bounded libFuzzer pass. Builds the fuzz targets (clang++-14, with
# AddressSanitizer and UndefinedBehaviorSanitizer) into build-fuzz/ and runs
# each for FUZZ_SECONDS seconds (default 12, a minute for all five), starting
# from its corpus in fuzz/corpus/<map>/. New inputs go to
# build-fuzz/corpus/<map>/, never into the tree. A crash, hang or broken
# property fails the job and leaves its input in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-12}
bash scripts/setup.sh --build-dir build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRASTER_MAPS_FUZZ=ON -DRASTER_MAPS_WERROR=ON \
  -DRASTER_MAPS_BUILD_MEX=OFF -DRASTER_MAPS_BUILD_TESTS=OFF -DRASTER_MAPS_BUILD_BENCH=OFF \
  -DRASTER_MAPS_BUILD_PYTHON=OFF -DRASTER_MAPS_BUILD_CLI=OFF

mkdir -p build-fuzz/artifacts
for map in varnok marnisa sulmet ombrel dravix; do
  mkdir -p "build-fuzz/corpus/$map"
  log=build-fuzz/fuzz_$map.log
  if ! build-fuzz/fuzz/fuzz_$map -max_total_time="$seconds" -timeout=10 -max_len=1024 \
         -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$map-" \
         "build-fuzz/corpus/$map" "fuzz/corpus/$map" 2>"$log"; then
    tail -n 60 "$log"
    echo "fuzz_$map FAILED; reproduce with: RASTER_MAPS_FUZZ_SHOW=1 build-fuzz/fuzz/fuzz_$map" \
         "build-fuzz/artifacts/$map-*"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz_$map: $runs inputs in $seconds s, no finding"
done
