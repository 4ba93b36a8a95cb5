#!/usr/bin/env bash
# Builds the plug-ins and runs them on a synthetic land-cover map; prints one
# line per map and writes PNG figures into build/example/. Then saves the
# same map as a GeoTIFF of class codes, build/example/landcover.tif, and maps
# it with the raster-maps tool.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build/example
octave-cli --norc --no-history --quiet --eval \
  "addpath('build/octave', 'examples'); landcover_example('build/example')"

cd build/example
gdal_translate -q -ot Byte -a_srs EPSG:32633 -co TILED=YES -co COMPRESS=DEFLATE \
  landcover.asc landcover.tif
rm -f landcover.asc
# Habitat quality of each land-cover code, and the chance of a point on it.
printf 'code,value\n11,0.1\n23,0.0\n41,1.0\n71,0.6\n82,0.3\n' > quality.csv
printf 'code,value\n11,0.05\n23,0.02\n41,0.3\n71,0.2\n82,0.1\n' > p.csv
../raster-maps varnok --table quality.csv --window 21 --overwrite -q landcover.tif quality21.tif
../raster-maps dravix --table p.csv --window 21x15 --probes-per-cell 12 --seed 7 --overwrite -q \
  landcover.tif points.tif
for f in quality21.tif points.tif; do
  echo "$f: $(gdalinfo -stats "$f" | grep -E 'Minimum=' | sed 's/^ *//')"
  rm -f "$f.aux.xml"
done
../raster-maps varnok --table quality.csv --window circle:300m --overwrite -q landcover.tif quality300m.tif
echo "GeoTIFFs written to build/example (landcover.tif, quality21.tif, quality300m.tif, points.tif)"
PYTHONPATH=../python /usr/bin/python3 ../../examples/windows_figure.py .
