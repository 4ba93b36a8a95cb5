"""The maps over chunked dask arrays, the same bits as in memory.

    import raster_maps.dask as rmd
    quality = rmd.varnok(table, 21, labels)      # labels: a 2-D dask array
    quality.compute()                            # any scheduler, distributed too

The arguments are those of raster_maps.varnok, ... (seed=None takes the clock
second once, when the graph is built; return_seed=True gives it back). The
result is a lazy float64 dask array with the chunks of labels, equal bit for
bit to the in-memory map of the computed labels for every chunking, chunks
smaller than the window included, and on every scheduler.

A chunk never needs the whole raster. Each output chunk reads its labels
plus a halo of at most a window around them, and takes small carries from
the chunks left of it and above it: running row sums and a row of the
summed-area table (Varnok, Marnisa, Sulmet), Ombrel's running score per row,
and for the random maps the generator position of each chunk row, from
prefix sums of per-row draw and point counts. So chunks are computed as a
wave from the top-left corner.

A dask-backed xarray DataArray of class codes (e.g. rioxarray.open_rasterio
with chunks=, masked=True too) is accepted too, with a table mapping codes to
values and the options of raster_maps.xarray (nodata, policies, border): it
is handed to raster_maps.xarray, which recodes it lazily and maps the labels
here, so this module itself knows only arrays of labels. The result is then
a DataArray with the input's coordinates and the attributes that still
hold. Masked chunks: their masked cells are nodata in a DataArray of codes;
chunks of labels 1..K may not be masked.

Arrays of unknown chunk sizes (after boolean indexing) are refused: call
compute_chunk_sizes() on them first. Each task runs on one thread (threads=
is checked and has no other effect); a task stops within a fraction of a
second on Ctrl-C, as the in-memory maps do.
"""
import itertools
import operator
import sys

import dask.array as da
import numpy as np
from dask.base import tokenize
from dask.highlevelgraph import HighLevelGraph

from . import _arguments as _args
from . import _core
from ._map_functions import map_functions


# --- tasks ---------------------------------------------------------------------

def _checked(job, block, r0, c0):
    """A label chunk as native int32, after checking the labels the map uses."""
    labels, original = _args.labels_of(block)
    problem = _core.tile_check(job, labels, r0, c0)
    if problem is not None:
        kind, value, row, col = problem
        if original is not None:
            value = original[row - r0, col - c0]
        _args.raise_problem((kind, value, row, col), job.map, job.table, job.min_valid)
    return labels


def _entry(map_name):
    """The core's catalogue entry of a map."""
    return next(e for e in _core.catalogue() if e["name"] == map_name)


def _call(function, *args):
    """A core function by name: pickled tasks name it rather than hold it."""
    return getattr(_core, function)(*args)


def _assemble(shape, dtype, sources, places):
    out = np.empty(shape, dtype)
    for src, (s0, s1, s2, s3, d0, d1, d2, d3) in zip(sources, places):
        out[d0:d1, d2:d3] = src[s0:s1, s2:s3]
    return out


def _last_row(table_and_right):
    return np.ascontiguousarray(table_and_right[0][-1])


# --- the graph -----------------------------------------------------------------

class _Graph:
    def __init__(self, job, labels):
        self.job = job
        self.rows = np.concatenate([[0], np.cumsum(labels.chunks[0])]).astype(int).tolist()
        self.cols = np.concatenate([[0], np.cumsum(labels.chunks[1])]).astype(int).tolist()
        self.R, self.C = len(self.rows) - 1, len(self.cols) - 1
        self.token = tokenize(job, labels.name)
        self.dsk = {}
        self.labels_in = labels
        self.lab = self.layer("labels", lambda a, b: (_checked, job, (labels.name, a, b),
                                                      self.rows[a], self.cols[b]))

    def name(self, what):
        return f"raster-maps-{what}-{self.token}"

    def tiles(self):
        return itertools.product(range(self.R), range(self.C))

    def tile(self, a, b):
        return self.rows[a], self.rows[a + 1], self.cols[b], self.cols[b + 1]

    def layer(self, what, task):
        name = self.name(what)
        for a, b in self.tiles():
            self.dsk[(name, a, b)] = task(a, b)
        return name

    def one(self, what, task):
        self.dsk[self.name(what)] = task
        return self.name(what)

    def gather(self, name, block, dtype):
        """A task assembling the cells of block (r0, r1, c0, c1) from the
        chunks of layer name."""
        r0, r1, c0, c1 = block
        sources, places = [], []
        for a in range(self.R):
            lo, hi = max(r0, self.rows[a]), min(r1, self.rows[a + 1])
            if lo >= hi:
                continue
            for b in range(self.C):
                left, right = max(c0, self.cols[b]), min(c1, self.cols[b + 1])
                if left >= right:
                    continue
                sources.append((name, a, b))
                places.append((lo - self.rows[a], hi - self.rows[a], left - self.cols[b],
                               right - self.cols[b], lo - r0, hi - r0, left - c0, right - c0))
        return (_assemble, (r1 - r0, c1 - c0), dtype, sources, places)

    def halo(self, a, b):
        r0, r1, c0, c1 = self.tile(a, b)
        return _core.tile_window_cells(self.job, r0, r1, c0, c1)

    def positions(self, what, counts, start):
        """Per chunk, its rows' generator positions from a layer of
        per-row counts, running on from start (a number or a key); and a
        key holding the total."""
        grid = [[(counts, a, b) for b in range(self.C)] for a in range(self.R)]
        both = self.one(what, (_call, "tile_draw_positions", grid, start))
        at = self.layer(what + "-at", lambda a, b: (operator.getitem,
                                                    (operator.getitem, (operator.getitem, both, 0), a), b))
        total = self.one(what + "-total", (operator.getitem, both, 1))
        return at, total

    def scores(self, make):
        """The output layer: make(a, b, r0, c0, rows, cols, halo) gives the
        task of a chunk with windows; chunks without any are zeros."""
        def task(a, b):
            r0, r1, c0, c1 = self.tile(a, b)
            halo = self.halo(a, b)
            if halo[1] <= halo[0]:
                return (np.zeros, (r1 - r0, c1 - c0))
            return make(a, b, r0, c0, r1 - r0, c1 - c0, halo)
        return self.layer("out", task)

    def array(self, name):
        graph = HighLevelGraph.from_collections(name, self.dsk, dependencies=[self.labels_in])
        return da.Array(graph, name, (tuple(np.diff(self.rows)), tuple(np.diff(self.cols))),
                        dtype=np.float64)

    # One builder per kind of map.

    def draw_positions(self):
        counts = self.layer("draws", lambda a, b: (_call, "tile_count_draws", self.job, (self.lab, a, b),
                                                   self.rows[a], self.cols[b]))
        return self.positions("draw", counts, 0)

    def value_maps(self):
        random = _entry(self.job.map)["random"]
        draw_at = self.draw_positions()[0] if random else None
        empty = np.zeros(0)
        table = self.name("table")
        # Carries are keys of their own, so that a chunk fetches one row or
        # column of its neighbours, not their whole tables.
        right, down = self.name("row-sums"), self.name("table-row")
        for a, b in self.tiles():
            r0, r1, c0, c1 = self.tile(a, b)
            self.dsk[(right, a, b)] = (operator.getitem, (table, a, b), 1)
            self.dsk[(down, a, b)] = (_last_row, (table, a, b))
            left = (right, a, b - 1) if b > 0 else empty
            up = (down, a - 1, b) if a > 0 else empty
            start = (draw_at, a, b) if random else np.zeros(0, np.uint64)
            self.dsk[(table, a, b)] = (_call, "tile_value_table", self.job, (self.lab, a, b), r0, c0,
                                       start, left, up)
        values = self.layer("table-values", lambda a, b: (operator.getitem, (table, a, b), 0))
        return self.scores(lambda a, b, r0, c0, rows, cols, halo: (
            _call, "tile_score_from_table", self.job, self.gather(values, halo, np.float64),
            self.gather(self.lab, halo, np.int32), halo[0], halo[2], r0, c0, rows, cols))

    def running_score(self):
        sweep, scores = self.name("sweep"), self.name("row-scores")
        for a, b in self.tiles():
            r0, r1, c0, c1 = self.tile(a, b)
            rows_of_windows = len(range(*self._window_rows(r0, r1)))
            self.dsk[(scores, a, b)] = (operator.getitem, (sweep, a, b), 1)
            carry = (scores, a, b - 1) if b > 0 else np.zeros(rows_of_windows)
            halo = self.halo(a, b)
            labels = self.gather(self.lab, halo, np.int32) if halo[1] > halo[0] else \
                np.zeros((0, 0), np.int32)
            self.dsk[(sweep, a, b)] = (_call, "tile_ombrel_scores", self.job, labels, halo[0], halo[2],
                                       carry, r0, c0, r1 - r0, c1 - c0)
        return self.layer("out", lambda a, b: (operator.getitem, (sweep, a, b), 0))

    def _window_rows(self, r0, r1):
        # Top rows of the windows centred in rows r0 .. r1-1, whatever the
        # columns, as the core lays them out.
        return _core.tile_window_rows(self.job, r0, r1)

    def thinned_points(self):
        job = self.job
        draw_at, draws = self.draw_positions()
        counts = self.layer("points", lambda a, b: (_call, "tile_count_points", job, (self.lab, a, b),
                                                    self.rows[a], self.cols[b], (draw_at, a, b)))
        first_at, points = self.positions("point", counts, 0)
        probes = self.one("probes", (_call, "tile_probe_count", job, draws, points))
        ri, rj = _core.probe_reach(job.h, job.w)
        keep = self.name("keep")
        for a, b in self.tiles():
            r0, r1, c0, c1 = self.tile(a, b)
            reach = (max(0, r0 - ri), min(job.M, r1 + ri), max(0, c0 - rj), min(job.N, c1 + rj))
            self.dsk[(keep, a, b)] = (_call, "tile_keep_thresholds", job,
                                      self.gather(self.lab, reach, np.int32), reach[0], reach[2],
                                      r0, c0, r1 - r0, c1 - c0, (draw_at, a, b), (first_at, a, b),
                                      draws, points, probes)
        thinning = self.layer("thinning", lambda a, b: (operator.getitem, (keep, a, b), 1))
        thin_from = self.one("thin-from", (_call, "tile_thin_start", draws, points, probes))
        thin_at, _ = self.positions("thin", thinning, thin_from)
        alive = self.layer("alive", lambda a, b: (
            _call, "tile_thin", job, (operator.getitem, (keep, a, b), 0), self.rows[a], self.cols[b],
            (thin_at, a, b)))
        return self.scores(lambda a, b, r0, c0, rows, cols, halo: (
            _call, "tile_score_density", job, self.gather(alive, halo, np.int32),
            self.gather(self.lab, halo, np.int32), halo[0], halo[2], r0, c0, rows, cols))


# --- the maps ------------------------------------------------------------------

def label_map(map_name, classes, window, labels, probes_per_cell, seed, *, arithmetic, edges,
              nodata=False, policy="strict", min_valid=0.5, unscored=None):
    """The lazy map of a 2-D dask array of labels 1..K (K + 1 for nodata
    when nodata is true), the arguments checked already: classes the class
    values, window as _arguments.window_of gives it, arithmetic and edges
    the core's names of them, policy and min_valid for
    windows holding nodata. unscored, when not None, fills the cells no
    window scores (as run_map's)."""
    if labels.ndim != 2:
        raise ValueError(f"labels must be a 2-D array of class labels; its shape is {labels.shape}")
    known_chunks(labels)
    if labels.dtype.kind not in "iu":
        raise TypeError(f"labels must be an integer array of class labels 1..K; it is {labels.dtype}")
    M, N = (int(s) for s in labels.shape)
    _args.check_request(map_name, classes, window, probes_per_cell, bool(nodata), policy,
                        float(min_valid), arithmetic)
    job = _core.TileJob(map_name, classes, window, M, N, probes_per_cell, seed, nodata, policy,
                        min_valid, arithmetic, edges)
    g = _Graph(job, labels)
    engine = _entry(map_name)["engine"]
    out = g.array({"value_table": g.value_maps, "running_score": g.running_score,
                   "thinned_points": g.thinned_points}[engine]())
    if unscored is None:
        return out
    r0, r1, c0, c1 = _core.scored_cells(map_name, M, N, window, edges)
    rows = da.arange(M, chunks=out.chunks[0])[:, None]
    cols = da.arange(N, chunks=out.chunks[1])[None, :]
    return da.where((rows >= r0) & (rows < r1) & (cols >= c0) & (cols < c1), out, unscored)


def known_chunks(array):
    """Refuses a dask array whose chunk sizes are unknown."""
    if any(np.isnan(size) for sizes in array.chunks for size in sizes):
        raise ValueError("the dask array has chunks of unknown size (NaN), as boolean indexing "
                         "leaves them; call its compute_chunk_sizes() first")


def _is_data_array(labels):
    # Only an xarray already imported can have made a DataArray.
    xr = sys.modules.get("xarray")
    return xr is not None and isinstance(labels, xr.DataArray)


def _map(entry, table, window, labels, probes_per_cell=_args.DEFAULT_PROBES_PER_CELL, *,
         threads, arithmetic, edges, seed=0, return_seed=False, options):
    probes = _args.probes_of(probes_per_cell)
    if entry["random"]:
        seed = _args.seed_of(seed, _core.clock_seed)
    if _is_data_array(labels):
        # Codes, nodata and coordinates are raster_maps.xarray's business.
        from .xarray import lazy_map
        out = lazy_map(entry, table, window, labels, probes, seed, arithmetic, edges, threads=threads,
                       **options)
    else:
        _args.threads_of(threads)
        arithmetic = _args.arithmetic_of(arithmetic)
        edges = _args.edges_of(edges)
        if options:
            raise TypeError(f"unexpected options for an array of labels: {sorted(options)}; the "
                            f"nodata options are for a DataArray of class codes")
        _args.refuse_masked(labels)
        t = _args.table_of(table)
        out = label_map(entry["name"], t, _args.window_of(window), labels if isinstance(labels, da.Array)
                        else da.asarray(labels), probes, seed, arithmetic=arithmetic, edges=edges)
    return (out, seed) if return_seed else out


_NOTES = {
    "table": "one value per class, label k reading table[k - 1] ({meaning}); for a DataArray of "
             "class codes a mapping {{code: value}}.",
    "window": "an int (a square window), an (h, w) pair, an array whose shape is used, "
              "rectangle(h, w), circle(radius) or annulus(inner, outer); sizes in metres "
              "(circle('300m')) for a DataArray of codes in a projected CRS.",
    "labels": "a 2-D chunked dask array of integer labels 1..K, or a dask-backed DataArray of "
              "class codes.",
    "probes_per_cell": "0 or more probes per raster cell, shared among the points.",
    "seed": "a whole number 0 .. 2**32 - 1, or None for the clock second, taken once when the "
            "graph is built.",
    "return_seed": "True returns (map, seed used).",
    "threads": "checked as in memory; each task runs on one thread.",
    "options": "for a DataArray of codes, the options of raster_maps.xarray (src_nodata, exclude, "
               "policy, min_valid, border, band).",
}

_functions = map_functions(
    __name__, _map, [("seed", None), ("return_seed", False), ("threads", None)], _NOTES,
    "Returns a lazy float64 dask array with the chunks of labels (a DataArray for a DataArray), "
    "bit for bit the in-memory map on every scheduler.", more_options="options")
globals().update(_functions)
__all__ = list(_functions)
