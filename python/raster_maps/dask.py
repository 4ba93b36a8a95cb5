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
values and the options of raster_maps.xarray (nodata, policies, border); the
result is then a DataArray with the input's coordinates and the attributes
that still hold. Masked chunks: their masked cells are nodata in a
DataArray of codes; chunks of labels 1..K may not be masked.

Arrays of unknown chunk sizes (after boolean indexing) are refused: call
compute_chunk_sizes() on them first. Each task runs on one thread (threads=
is checked and has no other effect); a task stops within a fraction of a
second on Ctrl-C, as the in-memory maps do.
"""
import itertools
import operator

import dask.array as da
import numpy as np
from dask.base import tokenize
from dask.highlevelgraph import HighLevelGraph

from . import _arguments as _args
from . import _core

__all__ = ["varnok", "marnisa", "sulmet", "ombrel", "dravix"]


# --- tasks ---------------------------------------------------------------------

def _checked(job, K, block, r0, c0):
    """A label chunk as native int32, after checking the labels the map uses."""
    _args.refuse_masked(block)
    labels = np.asarray(block)
    if labels.dtype.kind not in "iu":
        raise TypeError(f"labels must be an integer array of class labels 1..K; it is {labels.dtype}")
    original = None
    if labels.dtype != np.dtype(np.int32) or not labels.dtype.isnative:
        converted, original = _args.labels_of(labels)
        labels = np.ascontiguousarray(converted, dtype=np.int32)
    problem = _core.tile_check(job, labels, r0, c0)
    if problem is not None:
        kind, value, row, col = problem
        if original is not None:
            value = original[row - r0, col - c0]
        _args.raise_problem((kind, value, row, col), job[0], job[1], job[10])
    return labels


def _call(function, *args):
    """A core function by name: pickled tasks name it rather than hold it."""
    return getattr(_core, function)(*args)


def _assemble(shape, dtype, sources, places):
    out = np.empty(shape, dtype)
    for src, (s0, s1, s2, s3, d0, d1, d2, d3) in zip(sources, places):
        out[d0:d1, d2:d3] = src[s0:s1, s2:s3]
    return out


def _positions(counts, start):
    """Per chunk and row, the counts of all chunks before it in row-major
    order, from start: generator positions. Also the total."""
    at = [[None] * len(row) for row in counts]
    before = start
    for a, row in enumerate(counts):
        per_row = np.stack(row, axis=1) if row else np.zeros((0, 0), np.int64)
        flat = np.cumsum(per_row.ravel()) - per_row.ravel() + before
        starts = flat.reshape(per_row.shape)
        for b in range(len(row)):
            at[a][b] = np.ascontiguousarray(starts[:, b], dtype=np.uint64)
        before += int(per_row.sum())
    return at, before - start


def _ombrel_tile(job, labels, h0, w0, carry, r0, c0, rows, cols):
    return _core.tile_ombrel_scores(job, labels, h0, w0, carry, r0, c0, rows, cols)


def _value_tile(job, labels, r0, c0, draw_start, left, up):
    return _core.tile_value_table(job, labels, r0, c0, draw_start, left, up)


def _last_row(table_and_right):
    return np.ascontiguousarray(table_and_right[0][-1])


# --- the graph -----------------------------------------------------------------

class _Graph:
    def __init__(self, job, labels, K):
        self.job, self.K = job, K
        self.rows = np.concatenate([[0], np.cumsum(labels.chunks[0])]).astype(int).tolist()
        self.cols = np.concatenate([[0], np.cumsum(labels.chunks[1])]).astype(int).tolist()
        self.R, self.C = len(self.rows) - 1, len(self.cols) - 1
        self.token = tokenize(job, labels.name)
        self.dsk = {}
        self.labels_in = labels
        self.lab = self.layer("labels", lambda a, b: (_checked, job, K, (labels.name, a, b),
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
        per-row counts; and a key holding the total."""
        both = self.one(what, (_positions, [[(counts, a, b) for b in range(self.C)]
                                            for a in range(self.R)], start))
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
        random = self.job[0] == "marnisa"
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
            self.dsk[(table, a, b)] = (_value_tile, self.job, (self.lab, a, b), r0, c0, start, left, up)
        values = self.layer("table-values", lambda a, b: (operator.getitem, (table, a, b), 0))
        return self.scores(lambda a, b, r0, c0, rows, cols, halo: (
            _call, "tile_score_from_table", self.job, self.gather(values, halo, np.float64),
            self.gather(self.lab, halo, np.int32), halo[0], halo[2], r0, c0, rows, cols))

    def ombrel(self):
        sweep, scores = self.name("sweep"), self.name("row-scores")
        for a, b in self.tiles():
            r0, r1, c0, c1 = self.tile(a, b)
            rows_of_windows = len(range(*self._window_rows(r0, r1)))
            self.dsk[(scores, a, b)] = (operator.getitem, (sweep, a, b), 1)
            carry = (scores, a, b - 1) if b > 0 else np.zeros(rows_of_windows)
            halo = self.halo(a, b)
            labels = self.gather(self.lab, halo, np.int32) if halo[1] > halo[0] else \
                np.zeros((0, 0), np.int32)
            self.dsk[(sweep, a, b)] = (_ombrel_tile, self.job, labels, halo[0], halo[2], carry,
                                       r0, c0, r1 - r0, c1 - c0)
        return self.layer("out", lambda a, b: (operator.getitem, (sweep, a, b), 0))

    def _window_rows(self, r0, r1):
        # Top rows of the windows centred in rows r0 .. r1-1, whatever the
        # columns: asked of the core through a full-width block.
        cells = _core.tile_window_cells(self.job, r0, r1, 0, self.job[5])
        if cells[1] <= cells[0]:
            return 0, 0
        return cells[0] + 1, cells[1] - self.job[2] + 1

    def dravix(self):
        job = self.job
        draw_at, draws = self.draw_positions()
        counts = self.layer("points", lambda a, b: (_call, "tile_count_points", job, (self.lab, a, b),
                                                    self.rows[a], self.cols[b], (draw_at, a, b)))
        first_at, points = self.positions("point", counts, 0)
        probes = self.one("probes", (_call, "tile_probe_count", job, draws, points))
        M, N = job[4], job[5]
        h, w = job[2], job[3]
        ri, rj = _core.probe_reach(h, w)
        keep = self.name("keep")
        for a, b in self.tiles():
            r0, r1, c0, c1 = self.tile(a, b)
            reach = (max(0, r0 - ri), min(M, r1 + ri), max(0, c0 - rj), min(N, c1 + rj))
            self.dsk[(keep, a, b)] = (_call, "tile_keep_thresholds", job,
                                      self.gather(self.lab, reach, np.int32), reach[0], reach[2],
                                      r0, c0, r1 - r0, c1 - c0, (draw_at, a, b),
                                      (np.asarray, (first_at, a, b), np.int64), draws, points, probes)
        thinning = self.layer("thinning", lambda a, b: (operator.getitem, (keep, a, b), 1))
        thin_from = self.one("thin-from", (_thin_start, draws, points, probes))
        thin_at, _ = self.positions("thin", thinning, 0)
        alive = self.layer("alive", lambda a, b: (
            _call, "tile_thin", job, (operator.getitem, (keep, a, b), 0), self.rows[a], self.cols[b],
            (_shift, (thin_at, a, b), thin_from)))
        return self.scores(lambda a, b, r0, c0, rows, cols, halo: (
            _call, "tile_score_density", job, self.gather(alive, halo, np.int32),
            self.gather(self.lab, halo, np.int32), halo[0], halo[2], r0, c0, rows, cols))


def _thin_start(draws, points, probes):
    return draws + 2 * (points + probes)


def _shift(at, by):
    return at + np.uint64(by)


# --- the maps ------------------------------------------------------------------

def _graph_of(map_name, table, h, w, labels, probes_per_cell, seed, nodata=False, policy="strict",
              min_valid=0.5):
    if not isinstance(labels, da.Array):
        labels = da.asarray(labels)
    if labels.ndim != 2:
        raise ValueError(f"labels must be a 2-D array of class labels; its shape is {labels.shape}")
    _known_chunks(labels)
    if labels.dtype.kind not in "iu":
        raise TypeError(f"labels must be an integer array of class labels 1..K; it is {labels.dtype}")
    M, N = (int(s) for s in labels.shape)
    job = (map_name, np.ascontiguousarray(table, np.float64), h, w, M, N, probes_per_cell, seed,
            bool(nodata), policy, float(min_valid))
    _args.check_request(map_name, job[1], h, w, probes_per_cell, bool(nodata), policy, float(min_valid))
    g = _Graph(job, labels, len(table))
    if map_name == "ombrel":
        out = g.ombrel()
    elif map_name == "dravix":
        out = g.dravix()
    else:
        out = g.value_maps()
    return g.array(out)


def _known_chunks(array):
    if any(np.isnan(size) for sizes in array.chunks for size in sizes):
        raise ValueError("the dask array has chunks of unknown size (NaN), as boolean indexing "
                         "leaves them; call its compute_chunk_sizes() first")


def _run(map_name, table, window, labels, probes_per_cell=_args.DEFAULT_PROBES_PER_CELL, seed=0,
         **options):
    try:
        import xarray as xr
    except ImportError:  # pragma: no cover
        xr = None
    if xr is not None and isinstance(labels, xr.DataArray):
        return _data_array(map_name, table, window, labels, probes_per_cell, seed, **options)
    _args.threads_of(options.pop("threads", None))
    if options:
        raise TypeError(f"unexpected options for an array of labels: {sorted(options)}; the "
                        f"nodata options are for a DataArray of class codes")
    _args.refuse_masked(labels)
    t = _args.table_of(table)
    h, w = _args.window_of(window)
    return _graph_of(map_name, t, h, w, labels, probes_per_cell, seed)


def _recode_block(block, table, nodata, marker, block_info=None):
    from .xarray import code_labels, integer_codes
    (r0, _), (c0, _) = block_info[0]["array-location"]
    codes, nodata = integer_codes(block, nodata, [c for c, _ in table], (r0, c0), marker)
    return code_labels(codes, table, nodata, offset=(r0, c0))[0]


def _data_array(map_name, table, window, labels, probes_per_cell, seed, **options):
    from . import xarray as rmx
    o = rmx._options(**options)
    h, w = _args.window_of(window)
    band = rmx.band_of(labels, o["band"])
    policy, min_valid, unscored = rmx.map_options(o["policy"], o["min_valid"], o["border"])
    _args.threads_of(o["threads"])
    table = rmx.checked_table(table)
    codes, values = rmx.table_rows(table)
    nodata = rmx.nodata_codes(band, *rmx.checked_nodata(band, o["src_nodata"], o["exclude"]))
    data = band.data if isinstance(band.data, da.Array) else da.from_array(band.values)
    _known_chunks(data)
    # Float chunks may hold NaN and masked chunks masked cells: nodata by
    # themselves, marked with one code for the whole graph.
    marker = None
    if data.dtype.kind == "f" or _args.is_masked(data):
        marker = rmx.nodata_marker(np.int64 if data.dtype.kind == "f" else data.dtype, codes, nodata)
    # The classes: the table's codes that are not nodata, in increasing code order.
    classes = sorted((c, v) for c, v in zip(codes, values) if c not in set(nodata))
    if len(set(codes)) != len(codes):
        raise ValueError("table gives a code twice")
    if not classes:
        raise ValueError("table has no class left once the nodata codes are taken out")
    labels = data.map_blocks(_recode_block, table, nodata, marker, dtype=np.int32,
                             meta=np.empty((0, 0), np.int32))
    out = _graph_of(map_name, np.array([v for _, v in classes]), h, w, labels, probes_per_cell, seed,
                    bool(nodata) or marker is not None, policy, min_valid)
    if unscored is not None:
        out = _fill_lazy(out, map_name, h, w, unscored)
    return rmx.result_array(out, band, map_name, (h, w), seed if map_name in ("marnisa", "dravix")
                            else None)


def _fill_lazy(out, map_name, h, w, value):
    M, N = out.shape
    r0, r1, c0, c1 = _core.scored_cells(map_name, M, N, h, w)
    r, c = (r0, r1), (c0, c1)
    rows = da.arange(M, chunks=out.chunks[0])[:, None]
    cols = da.arange(N, chunks=out.chunks[1])[None, :]
    scored = (rows >= r[0]) & (rows < r[1]) & (cols >= c[0]) & (cols < c[1])
    return da.where(scored, out, value)


def _random(map_name, table, window, labels, seed, return_seed, probes_per_cell=None, **options):
    probes = _args.DEFAULT_PROBES_PER_CELL if probes_per_cell is None else _args.probes_of(probes_per_cell)
    s = _args.seed_of(seed, _core.clock_seed)
    out = _run(map_name, table, window, labels, probes, s, **options)
    return (out, s) if return_seed else out


def varnok(table, window, labels, **options):
    """Mean of table[label - 1] over each window, as a lazy dask array."""
    return _run("varnok", table, window, labels, **options)


def marnisa(table, window, labels, *, seed=None, return_seed=False, **options):
    """Mean of randomly kept class values over each window; seed fixed at
    graph construction."""
    return _random("marnisa", table, window, labels, seed, return_seed, **options)


def sulmet(table, window, labels, **options):
    """1 - 0.5 * sum over classes of (window share - table value)**2."""
    return _run("sulmet", table, window, labels, **options)


def ombrel(table, window, labels, **options):
    """sum over classes of table value * sqrt(window share)."""
    return _run("ombrel", table, window, labels, **options)


def dravix(table, window, labels, probes_per_cell=_args.DEFAULT_PROBES_PER_CELL, *, seed=None,
           return_seed=False, **options):
    """Share of each window's cells holding a thinned random point."""
    return _random("dravix", table, window, labels, seed, return_seed, probes_per_cell, **options)
