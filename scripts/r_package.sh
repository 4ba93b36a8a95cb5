#!/usr/bin/env bash
# The R package rastermaps: stages r/ together with the core's sources
# (kernels/, maps/) into BUILD/r/rastermaps, so that the package compiles the
# one core and git holds no copy of it, builds the source tarball, and then
# checks it (R CMD check, whose run includes the testthat tests) and/or
# installs it into R's site library.
#
#   bash scripts/r_package.sh [--build-dir DIR] [check] [install]
#
# With no action it only stages and builds the tarball, BUILD/r/rastermaps_*.tar.gz.
# check fails on any ERROR or WARNING of R CMD check. The tests compare with
# the command-line tool and the Octave plug-ins when RASTER_MAPS_TEST_BUILD
# names a build folder holding them (this script sets it to BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=build
if [[ ${1:-} == --build-dir ]]; then
  build_dir=$2
  shift 2
fi
for action in "$@"; do
  [[ $action == check || $action == install ]] || { echo "r_package.sh: unknown action '$action'" >&2; exit 2; }
done
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
top=$PWD
work=$build_dir/r
export MAKEFLAGS=${MAKEFLAGS:--j2}
# R's default flags add debugging information (-g), which triples the
# library's size and the compile time for nothing a user of the package
# needs. A user's own ~/.R/Makevars or R_MAKEVARS_USER still decides.
if [[ -z ${R_MAKEVARS_USER:-} && ! -f $HOME/.R/Makevars ]]; then
  mkdir -p "$build_dir/r"
  printf 'CXX20FLAGS = -O2 -Wall -fstack-protector-strong -D_FORTIFY_SOURCE=2\n' > "$build_dir/r/Makevars"
  export R_MAKEVARS_USER=$build_dir/r/Makevars
fi

rm -rf "$work/rastermaps"
mkdir -p "$work"
cp -r r "$work/rastermaps"
mkdir -p "$work/rastermaps/src/kernels" "$work/rastermaps/src/maps"
cp kernels/*.hpp kernels/*.cpp "$work/rastermaps/src/kernels/"
cp maps/*.hpp maps/*.cpp "$work/rastermaps/src/maps/"

cd "$work"
rm -f rastermaps_*.tar.gz
R CMD build --no-build-vignettes --no-manual rastermaps > build.log 2>&1 || { cat build.log; exit 1; }
tarball=$(ls rastermaps_*.tar.gz)
echo "r_package.sh: built $work/$tarball"

for action in "$@"; do
  case $action in
    check)
      rm -rf rastermaps.Rcheck
      status=0
      RASTER_MAPS_TEST_BUILD=${RASTER_MAPS_TEST_BUILD:-$build_dir} RASTER_MAPS_SOURCE=$top \
        _R_CHECK_FORCE_SUGGESTS_=false \
        R CMD check --no-manual --no-build-vignettes "$tarball" > check.log 2>&1 || status=$?
      cat check.log
      if ((status)) || grep -Eq '^\* .*\.\.\. *(ERROR|WARNING)' check.log || grep -q '^Status: .*\(ERROR\|WARNING\)' check.log; then
        [ -f rastermaps.Rcheck/tests/testthat.Rout.fail ] && cat rastermaps.Rcheck/tests/testthat.Rout.fail
        echo "r_package.sh: R CMD check found errors or warnings" >&2
        exit 1
      fi
      ;;
    install)
      R CMD INSTALL "$tarball" > install.log 2>&1 || { cat install.log; exit 1; }
      echo "r_package.sh: installed rastermaps into $(Rscript -e 'cat(.libPaths()[1])')"
      ;;
  esac
done
