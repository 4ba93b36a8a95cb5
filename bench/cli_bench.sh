#!/usr/bin/env bash
# raster-maps on a large land-cover GeoTIFF: a 20000 x 20000 Byte raster of
# 10 codes in patches, every map with a 21 x 21 window, against the R
# package rastermaps writing the same GeoTIFF, R terra (focal mean of the
# reclassified raster) and GRASS r.neighbors (average of the recoded
# raster) for Varnok, all in one run so that the numbers compare; then
# Varnok over a circle of radius 10 against terra's focal with focalMat's
# circle weights and GRASS r.neighbors -c.
# Time and peak resident memory come from /usr/bin/time -v. Not part of CI;
# needs about 15 GB of disk in the work directory at 20000 x 20000. A tool
# that is not installed (the R package, R terra, GRASS) is skipped with a
# note; scripts/setup.sh installs the first two.
#
#   bash bench/cli_bench.sh [work directory, default build/cli_bench] [size, default 20000]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-build/cli_bench}
size=${2:-20000}
tool=${RASTER_MAPS_TOOL:-$PWD/build/raster-maps}
[ -x "$tool" ] || { echo "cli_bench.sh: no $tool; build it first (scripts/setup.sh)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "cli_bench.sh: needs GNU time (/usr/bin/time, Debian package time)" >&2; exit 1; }
have_r_package=0 have_terra=0 have_grass=0
if command -v Rscript > /dev/null; then
  Rscript -e 'library(rastermaps)' > /dev/null 2>&1 && have_r_package=1
  Rscript -e 'library(terra)' > /dev/null 2>&1 && have_terra=1
fi
command -v grass > /dev/null && have_grass=1

mkdir -p "$work"
cd "$work"
codes=(10 20 30 40 50 60 70 80 90 100)
values=(0.1 1.0 0.6 0.3 0.0 0.45 0.8 0.2 0.05 0.7)
{
  echo "code,value"
  for i in "${!codes[@]}"; do echo "${codes[$i]},${values[$i]}"; done
} > table.csv

# Patches: random codes on a grid 10 times coarser, blown up by nearest
# neighbour, so the land cover has 10 x 10-cell patches as real maps have
# patches, not independent cells.
if [ ! -f landcover.tif ]; then
  /usr/bin/python3 - "$size" <<'PY'
import sys
import numpy as np
from osgeo import gdal
gdal.UseExceptions()
n = int(sys.argv[1]) // 10
codes = np.arange(10, 101, 10, dtype=np.uint8)
grid = codes[np.random.default_rng(1).integers(0, 10, (n, n))]
ds = gdal.GetDriverByName("GTiff").Create("coarse.tif", n, n, 1, gdal.GDT_Byte)
ds.SetGeoTransform([500000, 300, 0, 4100000, 0, -300])
ds.SetProjection("EPSG:32633")
ds.GetRasterBand(1).WriteArray(grid)
PY
  gdal_translate -q -outsize "$size" "$size" -r nearest -co TILED=YES -co COMPRESS=DEFLATE \
    coarse.tif landcover.tif
  rm -f coarse.tif
fi

results=results.txt
: > "$results"
# Outputs of earlier runs would pass for those of a tool skipped now.
rm -f rastermaps_varnok.tif terra_varnok.tif grass_varnok.tif
# measure NAME COMMAND...: runs it under /usr/bin/time -v and records the
# wall time, the CPU time (user + system, all threads) and peak resident
# memory. On a shared machine the CPU time is the steadier of the two.
measure() {
  local name=$1
  shift
  /usr/bin/time -v "$@" 2> time.log > /dev/null || { cat time.log; exit 1; }
  local wall cpu rss
  wall=$(grep "Elapsed (wall clock)" time.log | awk '{print $NF}')
  cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {printf "%.1f", s}' time.log)
  rss=$(grep "Maximum resident set size" time.log | awk '{print $NF}')
  printf '%-28s %10s %8s s CPU %8d MB\n' "$name" "$wall" "$cpu" $((rss / 1024)) | tee -a "$results"
}

echo "land cover ${size} x ${size} Byte, 10 codes, window 21 x 21, $(nproc) cores" | tee -a "$results"
for map in varnok marnisa sulmet ombrel dravix; do
  seed=()
  [[ $map == marnisa || $map == dravix ]] && seed=(--seed 1)
  measure "raster-maps $map" "$tool" "$map" -q --table table.csv --window 21 "${seed[@]}" \
    --overwrite landcover.tif "$map.tif"
done
measure "raster-maps varnok ZSTD" "$tool" varnok -q --table table.csv --window 21 --overwrite \
  --co COMPRESS=ZSTD --co PREDICTOR=3 landcover.tif varnok_zstd.tif
measure "raster-maps varnok no comp." "$tool" varnok -q --table table.csv --window 21 --overwrite \
  --co COMPRESS=NONE landcover.tif varnok_plain.tif

# The R package (installed by scripts/setup.sh): the same map written as
# the same GeoTIFF, streamed in strips through terra.
skipped() { printf '%-28s %s\n' "$1" "skipped: $2" | tee -a "$results"; }
if ((have_r_package)); then
  named=$(paste -sd, <(for i in "${!codes[@]}"; do echo "\`${codes[$i]}\` = ${values[$i]}"; done))
  cat > rastermaps_varnok.R <<R
library(rastermaps)
lc <- terra::rast("landcover.tif")
varnok(lc, c($named), window = 21, filename = "rastermaps_varnok.tif", overwrite = TRUE,
       wopt = list(progress = 0))
R
  measure "R rastermaps varnok" Rscript rastermaps_varnok.R
else
  skipped "R rastermaps varnok" "R or the package rastermaps is not installed (bash scripts/r_package.sh install)"
fi

# R terra: the codes reclassified to their values, then a 21 x 21 focal mean.
# The values are kept as doubles: terra's temporary files are otherwise
# Float32, whose class values (0.45 as 0.449999988) move means by up to 2e-8.
if ((have_terra)); then
  rcl=$(paste -sd, <(for i in "${!codes[@]}"; do echo "${codes[$i]},${values[$i]}"; done))
  cat > terra_varnok.R <<R
library(terra)
r <- rast("landcover.tif")
v <- classify(r, matrix(c($rcl), ncol = 2, byrow = TRUE), datatype = "FLT8S")
focal(v, w = 21, fun = "mean", filename = "terra_varnok.tif", overwrite = TRUE,
      wopt = list(datatype = "FLT8S", gdal = c("COMPRESS=DEFLATE", "PREDICTOR=3", "TILED=YES")))
R
  measure "R terra focal mean" Rscript terra_varnok.R
else
  skipped "R terra focal mean" "R or the package terra is not installed"
fi

# GRASS: the codes recoded to their values (r.recode, as doubles: -d), then
# a 21 x 21 average (r.neighbors), read and written through GDAL.
if ((have_grass)); then
  {
    echo "#!/usr/bin/env bash"
    echo "set -e"
    echo "r.external -o input=$PWD/landcover.tif output=lc --quiet"
    echo "g.region raster=lc"
    echo "r.recode -d input=lc output=value --quiet rules=- <<RULES"
    for i in "${!codes[@]}"; do echo "${codes[$i]}:${codes[$i]}:${values[$i]}:${values[$i]}"; done
    echo "RULES"
    echo "r.neighbors input=value output=mean size=21 method=average --quiet"
    echo "r.out.gdal input=mean output=$PWD/grass_varnok.tif type=Float64 createopt=COMPRESS=DEFLATE,PREDICTOR=3,TILED=YES --overwrite --quiet"
  } > grass_varnok.sh
  chmod +x grass_varnok.sh
  rm -rf grassdb
  measure "GRASS r.neighbors average" grass -c "$PWD/landcover.tif" "$PWD/grassdb/bench" --exec "$PWD/grass_varnok.sh"
else
  skipped "GRASS r.neighbors average" "GRASS (grass-core) is not installed"
fi

# The means of two to four programs over the cells both score, read a band of
# rows at a time: compare LABEL OURS FOOTPRINT NAME=FILE... (files that were
# not written, by skipped tools, are left out). Where each program differs
# most from ours, the window's exact mean (fractions.Fraction over the
# FOOTPRINT's cells of landcover.tif: "square:21" or "circle:10") tells
# which of the two is the correctly rounded one.
compare() {
  /usr/bin/python3 - "$@" <<'PY' | tee -a "$results"
import os
import sys
import numpy as np
from osgeo import gdal
gdal.UseExceptions()
from fractions import Fraction
label, ours_path, footprint, *pairs = sys.argv[1:]
others = [(n, gdal.Open(p)) for n, p in (pair.split("=", 1) for pair in pairs) if os.path.exists(p)]
ours = gdal.Open(ours_path)
rows, cols = ours.RasterYSize, ours.RasterXSize
worst, cells, where = [0.0] * len(others), [0] * len(others), [None] * len(others)
for r0 in range(0, rows, 1000):
    n = min(1000, rows - r0)
    a = ours.GetRasterBand(1).ReadAsArray(0, r0, cols, n).astype(np.float64)
    for k, (_, ds) in enumerate(others):
        band = ds.GetRasterBand(1)
        b = band.ReadAsArray(0, r0, cols, n).astype(np.float64)
        if band.GetNoDataValue() is not None:
            b[b == band.GetNoDataValue()] = np.nan
        both = np.isfinite(a) & np.isfinite(b)
        if both.any():
            d = np.where(both, np.abs(a - b), 0.0)
            at = np.unravel_index(int(np.argmax(d)), d.shape)
            if d[at] > worst[k]:
                worst[k], where[k] = float(d[at]), (r0 + int(at[0]), int(at[1]), float(a[at]), float(b[at]))
        cells[k] += int(both.sum())
values = {int(c): Fraction(float(v)) for c, v in (line.split(",") for line in open("table.csv").read().split()[1:])}
shape, size = footprint.split(":")
reach = int(size) // 2 if shape == "square" else int(size)
landcover = gdal.Open("landcover.tif")
for (name, _), w, c, at in zip(others, worst, cells, where):
    print(f"{label} against {name}: largest difference {w:.3g} over {c} cells scored by both")
    if at is None or w == 0:
        continue
    r, col, ours_mean, their_mean = at
    codes = landcover.GetRasterBand(1).ReadAsArray(col - reach, r - reach, 2 * reach + 1, 2 * reach + 1)
    held = [int(codes[i + reach, j + reach]) for i in range(-reach, reach + 1) for j in range(-reach, reach + 1)
            if shape == "square" or i * i + j * j <= reach * reach]
    exact = sum(values[x] for x in held) / len(held)
    print(f"  at row {r + 1}, column {col + 1} the exact mean is {float(exact)!r}: ours {ours_mean!r} is "
          f"{'the nearest double' if float(exact) == ours_mean else 'NOT the nearest double'}, "
          f"{name}'s {their_mean!r} is off by {float(abs(Fraction(their_mean) - exact)):.3g}")
PY
}
compare varnok varnok.tif square:21 "R rastermaps=rastermaps_varnok.tif" terra=terra_varnok.tif GRASS=grass_varnok.tif

# A circle of radius 10 cells (317 cells): raster-maps against terra's focal
# sum with focalMat's circle weights (1/317 each) and GRASS r.neighbors -c.
rm -f terra_circle.tif grass_circle.tif
measure "raster-maps varnok circle:10" "$tool" varnok -q --table table.csv --window circle:10 \
  --overwrite landcover.tif varnok_circle.tif
if ((have_terra)); then
  cat > terra_circle.R <<R
library(terra)
r <- rast("landcover.tif")
v <- classify(r, matrix(c($rcl), ncol = 2, byrow = TRUE), datatype = "FLT8S")
focal(v, w = focalMat(v, 10 * res(v)[1], "circle"), fun = "sum", filename = "terra_circle.tif",
      overwrite = TRUE, wopt = list(datatype = "FLT8S", gdal = c("COMPRESS=DEFLATE", "PREDICTOR=3", "TILED=YES")))
R
  measure "R terra focal circle" Rscript terra_circle.R
else
  skipped "R terra focal circle" "R or the package terra is not installed"
fi
if ((have_grass)); then
  sed -e 's/size=21 method=average/size=21 method=average -c/' -e 's/grass_varnok.tif/grass_circle.tif/' \
    grass_varnok.sh > grass_circle.sh
  chmod +x grass_circle.sh
  rm -rf grassdb
  measure "GRASS r.neighbors -c" grass -c "$PWD/landcover.tif" "$PWD/grassdb/bench" --exec "$PWD/grass_circle.sh"
else
  skipped "GRASS r.neighbors -c" "GRASS (grass-core) is not installed"
fi
compare "varnok circle:10" varnok_circle.tif circle:10 terra=terra_circle.tif GRASS=grass_circle.tif
echo "results in $work/$results"
