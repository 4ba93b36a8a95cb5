"""The window footprints and the edge rules on the example's land cover:
build/example/windows.png. Top row: a rectangle, a circle and an annulus of
the same extent, as cells a window holds. Bottom row: Varnok with a circle
of 300 m under each edge rule, inside, partial and margin (grey: cells no
window scores).

    /usr/bin/python3 examples/windows_figure.py build/example
"""
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
import rioxarray

import raster_maps as rm
import raster_maps.xarray as rmx

folder = sys.argv[1] if len(sys.argv) > 1 else "build/example"
landcover = rioxarray.open_rasterio(f"{folder}/landcover.tif").squeeze("band", drop=True)
quality = {11: 0.1, 23: 0.0, 41: 1.0, 71: 0.6, 82: 0.3}

fig, axes = plt.subplots(2, 4, figsize=(14.5, 7.5))
axes[0][3].axis("off")
for ax, window in zip(axes[0], (rm.rectangle(21, 21), rm.circle(10), rm.annulus(5, 10))):
    # The footprint: the cells whose score is 1 when every other cell is 0.
    cells = np.zeros((21, 21))
    for i in range(21):
        for j in range(21):
            probe = np.ones((41, 41), np.int32)
            probe[10 + i, 10 + j] = 2
            cells[i, j] = rm.varnok([0.0, 1.0], window, probe)[20, 20]
    ax.imshow(cells > 0, cmap="Greens", vmin=0, vmax=1.3)
    ax.set_title(f"{window!r}: {int((cells > 0).sum())} cells")
    ax.set_xticks([]), ax.set_yticks([])

cmap = plt.get_cmap("viridis").copy()
cmap.set_bad("lightgrey")
axes[1][0].imshow(landcover.values, cmap="tab10", interpolation="nearest")
axes[1][0].set_title("land cover (30 m cells)")
for ax, edges in zip(axes[1][1:], ("inside", "partial", "margin")):
    out = rmx.varnok(quality, rm.circle("300m"), landcover, edges=edges)
    ax.imshow(np.ma.masked_invalid(out.values), cmap=cmap, vmin=0, vmax=1, interpolation="nearest")
    share = np.isfinite(out.values).mean()
    ax.set_title(f"varnok, circle('300m'), edges={edges!r}\n{share:.0%} of cells scored")
for ax in axes[1]:
    ax.set_xticks([]), ax.set_yticks([])
fig.tight_layout()
fig.savefig(f"{folder}/windows.png", dpi=90)
print(f"footprints and edge rules: {folder}/windows.png")
