"""Reading the arguments of a map call, and raising the core's problems.

Every front end (numpy, xarray, dask) reads its arguments here, so they all
accept the same things and fail with the same messages. What an argument's
value must be for a map is the core's to check and to word; here are only
Python's own checks (types, what fits the core's integers) and the names
the core's sentences use. Rows and columns in messages are 0-based, as
Python counts.
"""
import dataclasses
import numbers
import operator
import re

import numpy as np

from . import _core

INT32_MIN = -(2**31)
INT32_MAX = 2**31 - 1
INT64_MAX = 2**63 - 1
DEFAULT_PROBES_PER_CELL = 12


# The ways of computing window sums, (name, summary), the default first.
ARITHMETICS = [tuple(a) for a in _core.arithmetics()]
DEFAULT_ARITHMETIC = ARITHMETICS[0][0]


def _one_of(what, value, entries):
    """value, if it names one of the catalogue's entries; else a ValueError."""
    names = [name for name, _ in entries]
    if not isinstance(value, str) or value not in names:
        allowed = " or ".join(repr(n) for n in names) if len(names) < 3 else \
            ", ".join(repr(n) for n in names[:-1]) + f" or {names[-1]!r}"
        raise ValueError(f"{what} must be {allowed}; it is {value!r}")
    return value


def arithmetic_of(arithmetic):
    """The name of an arithmetic the core knows, as the core takes it."""
    return _one_of("arithmetic", arithmetic, ARITHMETICS)


# The edge rules, (name, summary), the default first.
EDGES = [tuple(e) for e in _core.edge_rules()]
DEFAULT_EDGES = EDGES[0][0]


def edges_of(edges):
    """The name of an edge rule the core knows, as the core takes it."""
    return _one_of("edges", edges, EDGES)


def table_of(table):
    """The class table as a 1-D float64 array; label k reads entry k - 1."""
    t = np.asarray(table)
    if t.dtype.kind == "c":
        raise TypeError(f"table must hold real class values; it is {t.dtype}")
    if t.dtype.kind not in "biuf":
        raise TypeError(f"table must hold numbers, one value per class; it is {t.dtype}")
    if t.ndim != 1:
        raise ValueError(f"table must be 1-D, one value per class; it has shape {t.shape}")
    return np.ascontiguousarray(t, dtype=np.float64)


def _whole(x, name):
    if isinstance(x, (bool, np.bool_)) or not isinstance(x, numbers.Integral):
        raise TypeError(f"{name} must be a whole number; it is {x!r}")
    return operator.index(x)


# --- windows -------------------------------------------------------------------
# A size is a number of cells, or a string of metres ("300m") that only a
# georeferenced raster can turn into cells.
_METRES = re.compile(r"(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?m")


def _size(x, what, whole):
    """(value, in_metres) of a size: a number (whole when `whole`), or a
    string of metres such as "300m"."""
    if isinstance(x, str):
        if not _METRES.fullmatch(x):
            raise ValueError(f"{what} must be a number of cells or a string of metres such as "
                             f"'300m'; it is {x!r}")
        return float(x[:-1]), True
    if whole:
        return _whole(x, what), False
    if isinstance(x, (bool, np.bool_)) or not isinstance(x, numbers.Real):
        raise TypeError(f"{what} must be a number of cells or a string of metres such as '300m'; "
                        f"it is {x!r}")
    return float(x), False


def _shown(x):
    return x if isinstance(x, str) else repr(x)


@dataclasses.dataclass(frozen=True, repr=False)
class rectangle:
    """A rectangular window of h rows and w columns (w = h when left out):
    whole numbers of cells, or both strings of metres ("630m") for a
    DataArray in a projected CRS, each side rounded to whole cells of its
    pixel side (at least 1)."""
    h: object
    w: object = None

    def __post_init__(self):
        if self.w is None:
            object.__setattr__(self, "w", self.h)
        units = {_size(self.h, "a rectangle's h", True)[1], _size(self.w, "a rectangle's w", True)[1]}
        if len(units) > 1:
            raise ValueError(f"a rectangle's sides take the same unit, cells or metres; they are "
                             f"{self.h!r} and {self.w!r}")
        # Sides of 0 or less are the core's to word; more than 64 bits
        # would not reach it.
        if any(not isinstance(side, str) and side > INT64_MAX for side in (self.h, self.w)):
            raise ValueError(f"window is {self.h} x {self.w} cells; a side may have at most 2**63 - 1")

    def __repr__(self):
        return f"rectangle({self.h!r}, {self.w!r})"

    def __str__(self):
        return f"{self.h}x{self.w}"


@dataclasses.dataclass(frozen=True, repr=False)
class circle:
    """A circular window: the cells whose centres lie within radius of the
    centre cell's, one at exactly the radius included. The radius is in
    cells (any number), or a string of metres ("300m") for a DataArray in a
    projected CRS."""
    radius: object

    def __post_init__(self):
        _size(self.radius, "a circle's radius", False)

    def __repr__(self):
        return f"circle({self.radius!r})"

    def __str__(self):
        return f"circle:{self.radius}"


@dataclasses.dataclass(frozen=True, repr=False)
class annulus:
    """A ring: the cells whose centres lie farther than inner and at most
    outer from the centre cell's. Radii in cells, or both strings of
    metres ("150m", "300m") for a DataArray in a projected CRS."""
    inner: object
    outer: object

    def __post_init__(self):
        units = {_size(self.inner, "an annulus's inner radius", False)[1],
                 _size(self.outer, "an annulus's outer radius", False)[1]}
        if len(units) > 1:
            raise ValueError(f"an annulus's radii take the same unit, cells or metres; they are "
                             f"{self.inner!r} and {self.outer!r}")

    def __repr__(self):
        return f"annulus({self.inner!r}, {self.outer!r})"

    def __str__(self):
        return f"annulus:{self.inner},{self.outer}"


def footprint_of(window):
    """The window as one of rectangle, circle or annulus: an int is a
    square, an (h, w) pair a rectangle, an array a rectangle of its shape."""
    if isinstance(window, (rectangle, circle, annulus)):
        return window
    if isinstance(window, np.ndarray):
        if window.ndim != 2:
            raise ValueError(f"a window array must be 2-D; its shape is {window.shape}")
        return rectangle(*(int(s) for s in window.shape))
    if isinstance(window, (tuple, list)):
        if len(window) != 2:
            raise ValueError(f"window must be an int, an (h, w) pair, a 2-D array, rectangle(h, w), "
                             f"circle(radius) or annulus(inner, outer); it is {window!r}")
        return rectangle(*(_whole(x, "window") for x in window))
    return rectangle(_whole(window, "window"))


def window_of(window, cell_metres=None):
    """The window as the core takes it, (h, w, shape, inner, outer,
    cell_height, cell_width), h x w its extent in cells. cell_metres, a
    function giving (cell height, cell width) in metres, is called only for
    sizes in metres; without it they are refused."""
    f = footprint_of(window)
    sizes = (f.h, f.w) if isinstance(f, rectangle) else (f.radius,) if isinstance(f, circle) \
        else (f.inner, f.outer)
    in_metres = any(isinstance(x, str) for x in sizes)
    if in_metres and cell_metres is None:
        raise ValueError(f"window {f!r} is in metres, but an array has no pixel size; give it in "
                         f"cells, or map a georeferenced DataArray with raster_maps.xarray")
    ry, rx = cell_metres(f) if in_metres else (1.0, 1.0)
    value = lambda x: float(x[:-1]) if isinstance(x, str) else x
    if isinstance(f, rectangle):
        if not in_metres:
            return (int(f.h), int(f.w), "rectangle", 0.0, 0.0, 1.0, 1.0)
        h, w = (max(1.0, float(np.round(value(x) / side))) for x, side in ((f.h, ry), (f.w, rx)))
        if max(h, w) > INT64_MAX:
            raise ValueError(f"window {f!r} is more than 2**63 - 1 cells a side at this pixel size")
        return (int(h), int(w), "rectangle", 0.0, 0.0, 1.0, 1.0)
    shape, inner, outer = ("circle", 0.0, float(value(f.radius))) if isinstance(f, circle) else \
        ("annulus", float(value(f.inner)), float(value(f.outer)))
    # A footprint the core refuses keeps no extent; the core words why.
    h, w = _core.window_extent(shape, inner, outer, ry, rx) or (0, 0)
    return (h, w, shape, inner, outer, float(ry), float(rx))


def is_masked(a):
    """Whether a is a numpy masked array, or a dask array of masked chunks
    (or a DataArray over one)."""
    return any(isinstance(x, np.ma.MaskedArray) for x in
               (a, getattr(a, "_meta", None), getattr(getattr(a, "data", None), "_meta", None)))


def refuse_masked(a):
    if is_masked(a):
        raise TypeError("labels is a masked array, but every cell here holds a class label 1..K, so "
                        "its mask would be lost; fill the masked cells (labels.filled(label)), or "
                        "map class codes with raster_maps.xarray, which takes masked cells, NaN and "
                        "the nodata value as nodata")


def labels_of(labels):
    """The labels as a 2-D int32 array, without a copy when they are native
    int32 already (any order or strides). Other integer arrays are converted
    once; values beyond the int32 range become 0, an invalid label, and the
    original array is returned too for the error message. Masked arrays
    are refused: their mask has no meaning for labels 1..K."""
    refuse_masked(labels)
    a = np.asarray(labels)
    if a.ndim != 2:
        raise ValueError(f"labels must be a 2-D array of class labels; its shape is {a.shape}")
    if a.dtype.kind not in "iu":
        raise TypeError(f"labels must be an integer array of class labels 1..K; it is {a.dtype}")
    native = a.dtype == np.dtype(np.int32) and a.dtype.isnative
    if native and all(s % 4 == 0 for s in a.strides):
        return a, None
    if a.size and (a.min() < INT32_MIN or a.max() > INT32_MAX):
        wide = a.astype(np.int64) if a.dtype.kind == "i" else a
        fits = (wide >= INT32_MIN) & (wide <= INT32_MAX)
        return np.where(fits, a, 0).astype(np.int32), a
    return a.astype(np.int32), None


def threads_of(threads):
    """0 (the default: every core, or RASTER_MAPS_THREADS) or a cap >= 1,
    which the core cuts to 4 threads per core."""
    if threads is None:
        return 0
    t = _whole(threads, "threads")
    if t < 1:
        raise ValueError(f"threads must be 1 or more (or None for every core); it is {t}")
    return min(t, INT64_MAX)


def seed_of(seed, clock_seed):
    """The generator seed: a whole number in 0 .. 2**32 - 1, or the clock
    second when seed is None."""
    if seed is None:
        return int(clock_seed())
    s = _whole(seed, "seed")
    if not 0 <= s < 2**32:
        raise ValueError(f"seed must lie in 0 .. 2**32 - 1; it is {s}")
    return s


def probes_of(probes_per_cell):
    """probes_per_cell as the core's int32; whether it suits the map is the
    core's check."""
    p = _whole(probes_per_cell, "probes_per_cell")
    if not INT32_MIN <= p <= INT32_MAX:
        raise ValueError(f"probes_per_cell must be a 32-bit integer, {INT32_MIN} .. {INT32_MAX}; it is {p}")
    return p


# The names the core's sentences give: an array of labels 1..K, whose table
# is indexed by class; a raster of codes, whose table is keyed by code and
# whose codes are marked nodata with exclude=.
_LABEL_NAMES = {"table_in_passing": "the table", "detail": "rule_and_reason", "class_shown": "table_entry"}
_CODE_NAMES = {"labels": "", "table_in_passing": "the table", "exclude": "exclude=", "power": "**"}


def check_request(map_name, table, window, probes_per_cell, nodata=False, policy="strict", min_valid=0.5,
                  arithmetic=DEFAULT_ARITHMETIC):
    """Raises the core's problem with a request before any label is read;
    window as window_of gives it."""
    problem = _core.check_request(map_name, table, window, probes_per_cell, nodata, policy, min_valid,
                                  arithmetic)
    if problem is not None:
        raise_problem(problem, map_name, table, min_valid, window=window)


def raise_problem(problem, map_name, table, min_valid=0.5, original=None, code_table=None,
                  window=(1, 1, "rectangle", 0.0, 0.0, 1.0, 1.0)):
    """Raises the core's sentence for a problem it found in a request or its
    labels: (kind, value, row, col). original: the caller's labels when
    labels_of narrowed them, so a label beyond int32 is named as given.
    code_table: ((code, value) rows, nodata codes) when the caller gave
    codes, so classes are named by their codes. window: the request's, as
    window_of gives it, for problems of its footprint."""
    kind, value, row, col = problem
    if original is not None and kind == "label_out_of_range":
        value = original[row, col]
    names = _LABEL_NAMES
    if code_table is not None:
        rows, nodata = code_table
        # The core's class order, from recoding no cell at all.
        codes = _core.recode(np.zeros((0, 0), np.int64), [c for c, _ in rows], [v for _, v in rows], nodata)[2]
        names = {**_CODE_NAMES, "codes": codes}
    raise ValueError(_core.problem_text((kind, int(value), row, col), map_name, table, min_valid, names,
                                        window))


def raise_code_problem(problem, offset=(0, 0)):
    """Raises the core's sentence for a problem of a code table or of a
    raster's codes: (kind, code, row, col), the cell relative to offset."""
    kind, code, row, col = problem
    raise ValueError(_core.code_problem_text((kind, int(code), row + offset[0], col + offset[1]), _CODE_NAMES))
