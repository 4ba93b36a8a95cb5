"""Reading and checking the arguments of a map call, and wording its errors.

Every front end (numpy, xarray, dask) reads its arguments here, so they all
accept the same things and fail with the same messages. Rows and columns in
messages are 0-based, as Python counts.
"""
import numbers
import operator

import numpy as np

INT32_MIN = -(2**31)
INT32_MAX = 2**31 - 1
INT64_MAX = 2**63 - 1
DEFAULT_PROBES_PER_CELL = 12


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
    if h < 1 or w < 1:
        raise ValueError(f"window is empty ({h} x {w}); it needs at least one row and one column")
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
    p = _whole(probes_per_cell, "probes_per_cell")
    if not 0 <= p <= INT32_MAX:
        raise ValueError(f"probes_per_cell must be 0 .. {INT32_MAX}; it is {p}")
    return p


def raise_problem(problem, K, original=None):
    """Raises the error for a problem the core found: (kind, value, row, col)."""
    kind, value, row, col = problem
    if kind == "empty_window":
        raise ValueError("window is empty; it needs at least one row and one column")
    if kind == "bad_min_valid":
        raise ValueError("min_valid must be a fraction 0..1 of the window")
    if kind == "empty_table":
        raise ValueError("table is empty; it needs one value per class")
    if kind == "non_finite_class_value":
        raise ValueError(f"table value of class {value} (table[{value - 1}]) is not finite; "
                         "this map computes with every class value it uses")
    if kind == "window_too_large":
        raise ValueError(f"window has too many cells ({value}): Sulmet scores windows of at most "
                         "3037000499 cells, and nodata counts need h * w below 2**31")
    if kind == "bad_probes_per_cell":
        raise ValueError(f"probes_per_cell must be 0 or more; it is {value}")
    if original is not None:
        value = original[row, col]
    raise ValueError(f"label {value} at row {row}, column {col} of labels is outside 1..{K}, "
                     f"the classes of the table")
