#!/usr/bin/env bash
# Runs the CI jobs in scripts/ci/, each building into its own folder:
#   gcc       g++ release build, warnings as errors; every test (build/)
#   sanitize  AddressSanitizer + UndefinedBehaviorSanitizer; every test,
#             the plug-ins inside Octave included (build-asan/)
#   clang     clang++-14 build, warnings as errors; the C++ tests (build-clang/)
#   fuzz      a minute of libFuzzer over each map's fuzz target (build-fuzz/)
# With job names as arguments, runs only those: run_tests.sh gcc fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=("$@")
((${#jobs[@]})) || jobs=(gcc sanitize clang fuzz)
for job in "${jobs[@]}"; do
  [[ -f scripts/ci/$job.sh ]] || { echo "no CI job '$job' in scripts/ci/"; exit 2; }
done
for job in "${jobs[@]}"; do
  echo "=== CI job: $job"
  start=$SECONDS
  bash "scripts/ci/$job.sh"
  echo "=== CI job $job passed in $((SECONDS - start)) s"
done
