#!/usr/bin/env bash
# Installs the core of the build folder BUILD into a temporary prefix and
# builds and runs the consumer project against that copy alone.
#   check_cpp_install.sh BUILD
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --component core --prefix "$tmp/prefix" > "$tmp/install.log"
cmake -S "$here/consumer" -B "$tmp/consumer" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$tmp/prefix" > "$tmp/configure.log" \
  || { cat "$tmp/configure.log"; exit 1; }
cmake --build "$tmp/consumer" > "$tmp/build.log" || { cat "$tmp/build.log"; exit 1; }
"$tmp/consumer/consumer"
