"""Moving-window maps over categorical rasters, for numpy arrays.

Each map moves an h x w window over a 2-D array of class labels 1..K and
writes one score per window position at the window's centre cell; cells no
window centre reaches stay 0. Windows keep 10 cells from the top and left
edges and 11 from the bottom and right.

    varnok(table, window, labels)        mean of table[label - 1] over the window
    marnisa(table, window, labels)       the same, each cell kept only at random
    sulmet(table, window, labels)        1 - 0.5 * sum((q - table)**2), q the window's class shares
    ombrel(table, window, labels)        sum(table * sqrt(q))
    dravix(table, window, labels)        share of cells holding a thinned random point

table: one value per class (label k reads table[k - 1]). window: an int (a
square window), an (h, w) pair, or an array whose shape is used. labels: any
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

The random maps take seed=None (the clock in whole seconds, so calls within
the same second agree) or a whole number 0 .. 2**32 - 1; return_seed=True
returns (map, seed used). Bad arguments raise TypeError or ValueError; a bad
label is reported with its 0-based row and column.

raster_maps.xarray and raster_maps.dask give the same maps for xarray
DataArrays and chunked dask arrays.
"""
from . import _arguments as _args
from . import _core

__all__ = ["varnok", "marnisa", "sulmet", "ombrel", "dravix", "clock_seed"]


def clock_seed():
    """The seed an unseeded random map would take now: the calendar time in
    whole seconds, modulo 2**32."""
    return _core.clock_seed()


def _run(map_name, table, window, labels, threads, probes_per_cell=_args.DEFAULT_PROBES_PER_CELL,
         seed=0):
    t = _args.table_of(table)
    h, w = _args.window_of(window)
    lab, original = _args.labels_of(labels)
    out, problem = _core.run_map(map_name, t, h, w, lab, probes_per_cell, seed,
                                 _args.threads_of(threads))
    if problem is not None:
        _args.raise_problem(problem, map_name, t, original=original)
    return out


def _random(map_name, table, window, labels, seed, threads, return_seed, probes_per_cell=None):
    probes = _args.DEFAULT_PROBES_PER_CELL if probes_per_cell is None else _args.probes_of(probes_per_cell)
    s = _args.seed_of(seed, _core.clock_seed)
    out = _run(map_name, table, window, labels, threads, probes, s)
    return (out, s) if return_seed else out


def varnok(table, window, labels, *, threads=None):
    """Mean of table[label - 1] over each window.

    threads=None runs on every core; threads=n on at most n, and at most 4 per core."""
    return _run("varnok", table, window, labels, threads)


def marnisa(table, window, labels, *, seed=None, threads=None, return_seed=False):
    """Mean over each window of a randomly kept value raster: a cell of class
    value p is kept with chance floor(32767 p) / 32768 and then counts p;
    cells not kept count 0. Cells are decided row by row from the seed.

    threads=None runs on every core; threads=n on at most n, and at most 4 per core."""
    return _random("marnisa", table, window, labels, seed, threads, return_seed)


def sulmet(table, window, labels, *, threads=None):
    """1 - 0.5 * sum over classes of (window share - table value)**2.

    threads=None runs on every core; threads=n on at most n, and at most 4 per core."""
    return _run("sulmet", table, window, labels, threads)


def ombrel(table, window, labels, *, threads=None):
    """sum over classes of table value * sqrt(window share): with the square
    roots of target shares in the table, the Bhattacharyya coefficient. The
    first window of each scored row is scored whenever it fits (N >= w + 10).

    threads=None runs on every core; threads=n on at most n, and at most 4 per core."""
    return _run("ombrel", table, window, labels, threads)


def dravix(table, window, labels, probes_per_cell=_args.DEFAULT_PROBES_PER_CELL, *, seed=None,
           threads=None, return_seed=False):
    """Share of each window's cells holding a random point that survived
    thinning: points are drawn with chance table[label - 1], each then
    removed the likelier the more of its probes find its own class.
    probes_per_cell (0 or more, default 12) are shared among the points.

    threads=None runs on every core; threads=n on at most n, and at most 4 per core."""
    return _random("dravix", table, window, labels, seed, threads, return_seed, probes_per_cell)
