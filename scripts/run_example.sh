#!/usr/bin/env bash
# Builds the plug-ins and runs them on a synthetic land-cover map; prints one
# line per map and writes PNG figures into build/example/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build/example
octave-cli --norc --no-history --quiet --eval \
  "addpath('build/octave', 'examples'); landcover_example('build/example')"
