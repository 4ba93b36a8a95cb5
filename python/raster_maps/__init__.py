"""Moving-window maps over categorical rasters, for numpy arrays.

Each map moves a window (a rectangle, circle or annulus) over a 2-D array
of class labels 1..K and writes one score per window position at the
window's centre cell; cells no window centre reaches stay 0. By default
(edges="inside") every window that lies wholly inside the array is scored;
edges="margin" keeps the plug-ins' layout, windows 10 cells from the top
and left edges and 11 from the bottom and right.

    varnok(table, window, labels)        mean of table[label - 1] over the window
    marnisa(table, window, labels)       the same, each cell kept only at random
    sulmet(table, window, labels)        1 - 0.5 * sum((q - table)**2), q the window's class shares
    ombrel(table, window, labels)        sum(table * sqrt(q))
    dravix(table, window, labels)        share of cells holding a thinned random point

table: one value per class (label k reads table[k - 1]). window: an int (a
square window), an (h, w) pair, an array whose shape is used,
rectangle(h, w), circle(radius) or annulus(inner, outer), sizes in cells
(metres, "300m", need a georeferenced DataArray: raster_maps.xarray). labels: any
2-D integer array, C or Fortran order; int32 arrays are read in place, others
are converted once. A masked array is refused, as every cell must hold a
label: fill it, or map class codes with nodata through raster_maps.xarray.
The result is a float64 array of the same shape.

threads=None runs on every core (or RASTER_MAPS_THREADS of them); threads=n
caps them, any whole number 1 or more, of which at most 4 per core are
used; threads the system refuses raise RuntimeError. The result is the
same bit for bit on any number of threads. The GIL
is released while a map runs, and Ctrl-C stops it within a fraction of a
second with KeyboardInterrupt, also when it runs on another thread (a dask
task) while SIGINT has Python's default handler.

arithmetic="exact" (the default) sums every window exactly, so a window of
one class gives exactly its value and values >= 0 never a negative mean;
arithmetic="plugin" gives the Octave plug-ins' bits, to compare with them
(with edges="margin", their layout too; rectangles only).

The random maps take seed=None (the clock in whole seconds, so calls within
the same second agree) or a whole number 0 .. 2**32 - 1; return_seed=True
returns (map, seed used). Bad arguments raise TypeError or ValueError; a bad
label is reported with its 0-based row and column.

raster_maps.xarray and raster_maps.dask give the same maps for xarray
DataArrays and chunked dask arrays.
"""
from . import _arguments as _args
from . import _core
from ._version import __version__
from ._arguments import annulus, circle, rectangle
from ._map_functions import map_functions


def clock_seed():
    """The seed an unseeded random map would take now: the calendar time in
    whole seconds, modulo 2**32."""
    return _core.clock_seed()


def _map(entry, table, window, labels, probes_per_cell=_args.DEFAULT_PROBES_PER_CELL, *,
         threads, arithmetic, edges, seed=0, return_seed=False):
    arithmetic = _args.arithmetic_of(arithmetic)
    edges = _args.edges_of(edges)
    probes = _args.probes_of(probes_per_cell)
    if entry["random"]:
        seed = _args.seed_of(seed, _core.clock_seed)
    t = _args.table_of(table)
    win = _args.window_of(window)
    lab, original = _args.labels_of(labels)
    out, problem = _core.run_map(entry["name"], t, win, lab, probes, seed, _args.threads_of(threads),
                                 arithmetic=arithmetic, edges=edges)
    if problem is not None:
        _args.raise_problem(problem, entry["name"], t, original=original, window=win)
    return (out, seed) if return_seed else out


_NOTES = {
    "table": "one value per class, label k reading table[k - 1]: {meaning}.",
    "window": "an int (a square window), an (h, w) pair, an array whose shape is used, "
              "rectangle(h, w), circle(radius) or annulus(inner, outer), in cells.",
    "labels": "a 2-D integer array of labels 1..K, C or Fortran order; int32 arrays are read in "
              "place, others converted once. A masked array is refused.",
    "probes_per_cell": "0 or more probes per raster cell, shared among the points.",
    "seed": "a whole number 0 .. 2**32 - 1, or None for the clock in whole seconds (calls within "
            "the same second agree).",
    "threads": "None for every core (or RASTER_MAPS_THREADS of them), or a cap of 1 or more, of "
               "which at most 4 per core are used. The result is the same on any number.",
    "return_seed": "True returns (map, seed used), so that the call can be repeated.",
}

_functions = map_functions(
    __name__, _map, [("seed", None), ("threads", None), ("return_seed", False)], _NOTES,
    "Returns a float64 array of the labels' shape, 0 where no window is centred. Bad arguments "
    "raise TypeError or ValueError; a bad label is named with its 0-based row and column.",
    meaning=lambda text: text.replace("code", "label"))
globals().update(_functions)
__all__ = [*_functions, "clock_seed", "rectangle", "circle", "annulus"]
