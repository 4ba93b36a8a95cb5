"""Reading the arguments of a map call, and raising the core's problems.

Every front end (numpy, xarray, dask) reads its arguments here, so they all
accept the same things and fail with the same messages. What an argument's
value must be for a map is the core's to check and to word; here are only
Python's own checks (types, what fits the core's integers) and the names
the core's sentences use. Rows and columns in messages are 0-based, as
Python counts.
"""
import numbers
import operator

import numpy as np

from . import _core

INT32_MIN = -(2**31)
INT32_MAX = 2**31 - 1
INT64_MAX = 2**63 - 1
DEFAULT_PROBES_PER_CELL = 12


# The ways of computing window sums, (name, summary), the default first.
ARITHMETICS = [tuple(a) for a in _core.arithmetics()]
DEFAULT_ARITHMETIC = ARITHMETICS[0][0]


def arithmetic_of(arithmetic):
    """The name of an arithmetic the core knows, as the core takes it."""
    names = [name for name, _ in ARITHMETICS]
    if not isinstance(arithmetic, str) or arithmetic not in names:
        allowed = " or ".join(repr(n) for n in names)
        raise ValueError(f"arithmetic must be {allowed}; it is {arithmetic!r}")
    return arithmetic


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


def window_of(window):
    """(h, w) from an int (a square window), an (h, w) pair or an array,
    of which only the shape is used."""
    if isinstance(window, np.ndarray):
        if window.ndim != 2:
            raise ValueError(f"a window array must be 2-D; its shape is {window.shape}")
        h, w = window.shape
    elif isinstance(window, (tuple, list)):
        if len(window) != 2:
            raise ValueError(f"window must be an int, an (h, w) pair or a 2-D array; it is {window!r}")
        h, w = (_whole(x, "window") for x in window)
    else:
        h = w = _whole(window, "window")
    if max(h, w) > INT64_MAX:
        raise ValueError(f"window is {h} x {w} cells; a side may have at most 2**63 - 1")
    return int(h), int(w)


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


def check_request(map_name, table, h, w, probes_per_cell, nodata=False, policy="strict", min_valid=0.5):
    """Raises the core's problem with a request before any label is read."""
    problem = _core.check_request(map_name, table, h, w, probes_per_cell, nodata, policy, min_valid)
    if problem is not None:
        raise_problem(problem, map_name, table, min_valid)


def raise_problem(problem, map_name, table, min_valid=0.5, original=None, code_table=None):
    """Raises the core's sentence for a problem it found in a request or its
    labels: (kind, value, row, col). original: the caller's labels when
    labels_of narrowed them, so a label beyond int32 is named as given.
    code_table: ((code, value) rows, nodata codes) when the caller gave
    codes, so classes are named by their codes."""
    kind, value, row, col = problem
    if original is not None and kind == "label_out_of_range":
        value = original[row, col]
    names = _LABEL_NAMES
    if code_table is not None:
        rows, nodata = code_table
        # The core's class order, from recoding no cell at all.
        codes = _core.recode(np.zeros((0, 0), np.int64), [c for c, _ in rows], [v for _, v in rows], nodata)[2]
        names = {**_CODE_NAMES, "codes": codes}
    raise ValueError(_core.problem_text((kind, int(value), row, col), map_name, table, min_valid, names))


def raise_code_problem(problem, offset=(0, 0)):
    """Raises the core's sentence for a problem of a code table or of a
    raster's codes: (kind, code, row, col), the cell relative to offset."""
    kind, code, row, col = problem
    raise ValueError(_core.code_problem_text((kind, int(code), row + offset[0], col + offset[1]), _CODE_NAMES))
