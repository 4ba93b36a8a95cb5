#!/usr/bin/python3
"""Mapping a chunked land-cover GeoTIFF with dask, then plotting it.

Run: /usr/bin/python3 examples/dask_geotiff_example.py [output folder]
(after bash scripts/setup.sh; writes landcover.tif, quality.tif and
dask_maps.png into the folder, build/example by default).
"""
import os
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
import rioxarray
import xarray as xr
from scipy import ndimage

import raster_maps.dask as rmd
import raster_maps.xarray as rmx

# %% A synthetic land-cover GeoTIFF: a smoothed random field cut at its
# quintiles into five class codes, a lake of nodata (code 0), in UTM 33N.
folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join("build", "example")
os.makedirs(folder, exist_ok=True)
rng = np.random.default_rng(7)
field = ndimage.gaussian_filter(rng.standard_normal((600, 800)), 12)
codes = np.array([10, 20, 30, 40, 50], np.uint8)[
    np.digitize(field, np.quantile(field, [0.2, 0.4, 0.6, 0.8]))]
rows, cols = np.indices(codes.shape)
codes[(rows - 420) ** 2 + (cols - 200) ** 2 < 60 ** 2] = 0
landcover = xr.DataArray(codes, dims=("y", "x"),
                         coords={"y": 5_400_000.0 - 30.0 * np.arange(600),
                                 "x": 400_000.0 + 30.0 * np.arange(800)})
landcover = landcover.rio.write_crs("EPSG:32633").rio.write_nodata(0)
tif = os.path.join(folder, "landcover.tif")
landcover.rio.to_raster(tif, tiled=True, blockxsize=128, blockysize=128)

# %% Open it in chunks and build the maps lazily: nothing is read yet.
chunked = rioxarray.open_rasterio(tif, chunks={"x": 256, "y": 256})
quality = {10: 0.1, 20: 1.0, 30: 0.6, 40: 0.3, 50: 0.0}   # code -> class value
target = {10: 0.2, 20: 0.2, 30: 0.2, 40: 0.2, 50: 0.2}    # an even mix
maps = {
    "Varnok: mean quality": rmd.varnok(quality, 21, chunked),
    "Sulmet: closeness to an even mix": rmd.sulmet(target, 21, chunked, policy="renormalise"),
    "Dravix: thinned point density": rmd.dravix(quality, 21, chunked, seed=7),
}

# %% Compute them with dask; the result equals the in-memory map bit for bit.
computed = {title: m.compute() for title, m in maps.items()}
in_memory = rmx.varnok(quality, 21, rioxarray.open_rasterio(tif))
same = computed["Varnok: mean quality"].values.tobytes() == in_memory.values.tobytes()
print(f"dask map equals the in-memory map: {same}")
computed["Varnok: mean quality"].rio.to_raster(os.path.join(folder, "quality.tif"))

# %% Plot the land cover and the maps, each with its colour bar.
fig, axes = plt.subplots(2, 2, figsize=(12, 9), constrained_layout=True)
shown = np.where(codes == 0, np.nan, codes)
image = axes[0, 0].imshow(shown, cmap="tab10", interpolation="nearest")
axes[0, 0].set_title("Land cover (class codes; lake = nodata)")
fig.colorbar(image, ax=axes[0, 0], label="class code")
for ax, (title, m) in zip(axes.flat[1:], computed.items()):
    image = ax.imshow(m.values, cmap="viridis", interpolation="nearest")
    ax.set_title(f"{title}, 21 x 21 window")
    fig.colorbar(image, ax=ax, label="score (unscored and nodata windows blank)")
for ax in axes.flat:
    ax.set_xticks([])
    ax.set_yticks([])
png = os.path.join(folder, "dask_maps.png")
fig.savefig(png, dpi=80)
print(f"wrote {png}")
