"""The maps for xarray DataArrays of land-cover class codes.

    import raster_maps.xarray as rmx
    quality = rmx.varnok({11: 0.1, 21: 1.0, 41: 0.6}, 21, landcover)

The DataArray holds the raster's own class codes, 2-D, or 3-D with a `band`
dimension (band=1 picks the first, as GDAL counts): any integer dtype, or
floats whose values are whole numbers with NaN for nodata, as
rioxarray.open_rasterio(path, masked=True) gives (a value that is not a
whole number is a ValueError naming its cell). The table maps each code to
its class value; classes follow the codes in increasing order. A
dask-backed DataArray (e.g. rioxarray.open_rasterio with chunks=) gives a
lazy result: its chunks are recoded lazily and the labels mapped chunk by
chunk through raster_maps.dask, with the same bits.

The result is a float64 DataArray with the input's dimensions and
coordinates (the CRS's spatial_ref included), named after the map. Of the
input's attributes it keeps only those that still hold for a map of it
(AREA_OR_POINT, crs, transform; grid_mapping goes to the encoding, from
which xarray writes it): statistics, long_name, units, scaling, valid
ranges, flags and colour tables describe the codes. It records
raster_maps_map, raster_maps_window (the extent, "h x w" cells),
raster_maps_footprint (the window as given: "21x21", "circle:300m", ...),
raster_maps_footprint_cells (its number of cells), raster_maps_edges,
raster_maps_seed (random maps), raster_maps_arithmetic ("exact", the
default, or "plugin" for the plug-ins' bits) and _FillValue NaN, the
result's nodata.

Window sizes may be strings of metres (circle("300m"), rectangle("630m",
"450m")) when the DataArray has a projected CRS: its .rio.resolution() and
the CRS's linear unit turn them into cells. A geographic CRS, or none, is
refused with a ValueError.

Codes and nodata are treated as by the raster-maps command-line tool:

- nodata codes: the array's own nodata value (rioxarray's .rio.nodata, else
  its _FillValue) unless src_nodata gives another (or None for none), and
  every code in exclude (one code or a list). Such cells, and NaN cells and
  masked cells of dask chunks, never take part: they are never sampled and
  draw nothing.
- A code that is neither in the table nor nodata is a ValueError naming the
  code and a 0-based row and column where it occurs.
- policy="strict" (the default): a window holding any nodata cell gets NaN.
  policy="renormalise": means, shares and densities over the window's valid
  cells only, NaN when fewer than min_valid (a fraction) of them are valid.
  A window without nodata gets exactly its score without nodata either way.
- Cells that no window scores are NaN; border="zero" gives the plug-ins' 0.
"""
import numbers
from collections.abc import Mapping

import numpy as np
import xarray as xr

from . import _arguments as _args
from . import _core
from ._map_functions import map_functions


class _RasterNodata:
    """The default of src_nodata: the nodata value the raster declares."""

    def __repr__(self):
        return "<the raster's own>"


_RASTER_NODATA = _RasterNodata()
# The input's attributes that still hold for a map of it: where its cells
# lie. The rest describe the codes (GDAL's STATISTICS_*, long_name, units,
# scale_factor, valid_range, flag_*, colour tables...) and would mislabel
# the map in any file written from it.
_KEPT_ATTRS = ("AREA_OR_POINT", "crs", "transform")
# Codes are 64-bit integers of either sign.
_CODE_MIN, _CODE_MAX = -(2**63), 2**64 - 1


def table_rows(table):
    """(codes, values) of a mapping code -> value, or of (code, value) pairs."""
    codes, values = [], []
    for code, value in checked_table(table):
        if not -2**63 <= code < 2**63:
            raise ValueError(f"table code {code} is beyond the range of codes, -2**63 .. 2**63 - 1; "
                             f"mark a larger uint64 code as nodata (exclude=) instead")
        codes.append(code)
        values.append(float(value))
    if not codes:
        raise ValueError("table is empty; it needs at least one code -> value entry")
    return codes, values


def source_nodata(labels):
    """The nodata code a DataArray declares, or None."""
    # _FillValue as stored: rioxarray's .rio.nodata goes through a float,
    # which rounds uint64 codes above 2**53 and refuses 2**64 - 1.
    value = labels.attrs.get("_FillValue", labels.encoding.get("_FillValue"))
    if value is None:
        try:
            value = labels.rio.nodata  # also reads missing_value, nodata, ...
        except AttributeError:
            pass
    if value is None:
        return None
    if isinstance(value, (int, np.integer)):
        return int(value)
    # NaN (rioxarray's masked=True) or an infinity marks no integer cell:
    # NaN cells are nodata by themselves.
    if not np.isfinite(value):
        return None
    if not float(value).is_integer():
        raise ValueError(f"the raster's nodata value {value} is not a whole number")
    return int(value)


def nodata_codes(labels, src_nodata, exclude):
    """The nodata codes, from src_nodata and exclude as checked_nodata
    gives them."""
    own = source_nodata(labels) if src_nodata is _RASTER_NODATA else src_nodata
    return ([] if own is None else [own]) + exclude


def band_of(labels, band):
    """The 2-D band of a DataArray: itself, or band `band` (1-based) of a
    3-D one with a band dimension."""
    if not isinstance(labels, xr.DataArray):
        raise TypeError(f"labels must be an xarray DataArray; it is {type(labels).__name__}")
    band = _args._whole(band, "band")
    if labels.ndim == 3 and "band" in labels.dims:
        count = labels.sizes["band"]
        if not 1 <= band <= count:
            raise ValueError(f"band {band} does not exist; the raster has bands 1..{count}")
        labels = labels.isel(band=band - 1)
    if labels.ndim != 2:
        raise ValueError(f"labels must be 2-D, or 3-D with a band dimension; its dims are {labels.dims}")
    return labels


def code_of(x, name):
    """A class code: a whole number of at most 64 bits, either sign."""
    code = _args._whole(x, name)
    if not _CODE_MIN <= code <= _CODE_MAX:
        raise ValueError(f"{name} {code} is beyond 64 bits; codes lie in -2**63 .. 2**64 - 1")
    return code


def checked_table(table):
    """The table as (code, value) pairs, refused in words unless it maps
    class codes to real numbers."""
    if isinstance(table, Mapping) or hasattr(table, "items"):
        items = list(table.items())
    elif isinstance(table, (str, bytes)) or not hasattr(table, "__iter__"):
        raise TypeError(f"table must map class codes to values, as {{11: 0.5, 21: 1.0}}; it is "
                        f"{table!r}")
    else:
        items = list(table)
    pairs = []
    for item in items:
        try:
            code, value = item
        except (TypeError, ValueError):
            raise TypeError(f"table must map codes to values; {item!r} is not a (code, value) pair") \
                from None
        code = code_of(code, "a table code")
        if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
            raise TypeError(f"the table value of code {code} must be a real number; it is {value!r}")
        pairs.append((code, value))
    return pairs


def checked_nodata(labels, src_nodata, exclude):
    """src_nodata and exclude checked, as nodata_codes takes them. A whole
    float src_nodata is its code, as GDAL stores nodata as a double."""
    if src_nodata is _RASTER_NODATA:
        pass
    elif isinstance(src_nodata, (float, np.floating)):
        if np.isnan(src_nodata):
            src_nodata = None
        elif np.isfinite(src_nodata) and src_nodata == int(src_nodata):
            src_nodata = code_of(int(src_nodata), "src_nodata")
        else:
            raise ValueError(f"src_nodata must be a whole-number code; it is {src_nodata}")
    elif src_nodata is not None:
        src_nodata = code_of(src_nodata, "src_nodata")
    if isinstance(exclude, numbers.Integral) and not isinstance(exclude, (bool, np.bool_)):
        exclude = [exclude]
    try:
        if isinstance(exclude, (str, bytes)):
            raise TypeError
        exclude = list(exclude)
    except TypeError:
        raise TypeError(f"exclude must be a code or a list of codes; it is {exclude!r}") from None
    return src_nodata, [code_of(c, "an excluded code") for c in exclude]


def integer_codes(codes, nodata, table_codes, offset=(0, 0), marker=None):
    """(codes as an integer array for code_labels, the nodata codes for
    it). Cells that are nodata by themselves, NaN cells or cells holding a
    nodata value of a float array and masked cells of a masked array, take
    a nodata code: marker (dtype, code) or nodata_marker's. Float codes
    must otherwise be whole numbers of at most 64 bits. The caller's array
    is never written."""
    mask = None
    if isinstance(codes, np.ma.MaskedArray):
        mask = np.ma.getmaskarray(codes)
        codes = codes.data
    a = np.asarray(codes)
    floats = a.dtype.kind == "f"
    if floats:
        own = np.isnan(a) | np.isin(a, [float(c) for c in nodata])
        mask = own if mask is None else mask | own
        bad = ~mask & ~((np.floor(a) == a) & (a >= -2.0**63) & (a < 2.0**63))
        if bad.any():
            r, c = np.argwhere(bad)[0]
            raise ValueError(f"the raster holds {a[r, c]!r} at row {r + offset[0]}, column "
                             f"{c + offset[1]}, which is no class code: codes are whole numbers "
                             f"(NaN for nodata)")
        a = np.where(mask, 0, a).astype(np.int64)
    nodata = [c for c in nodata if _CODE_MIN <= c <= _CODE_MAX]  # others never occur
    if mask is None or not mask.any():
        return a, nodata
    dtype, code = marker or nodata_marker(a.dtype, table_codes, nodata)
    a = a.astype(dtype, copy=not floats)
    a[mask] = code
    return a, nodata if code in nodata else nodata + [code]


def nodata_marker(dtype, table_codes, nodata):
    """(dtype, code) for cells that are nodata by themselves: the first
    nodata code that dtype holds, else the largest code of dtype (at most
    2**63 - 1) that the table lacks; int64 when dtype has none left."""
    taken = set(table_codes)
    for candidate in (np.dtype(dtype), np.dtype(np.int64)):
        info = np.iinfo(candidate)
        top = min(int(info.max), _args.INT64_MAX)
        fits = [c for c in nodata if info.min <= c <= top]
        if fits:
            return candidate, fits[0]
        code = top
        while code in taken and code > info.min:
            code -= 1
        if code not in taken:
            return candidate, code
    raise AssertionError("a table cannot hold every 64-bit code")


def code_labels(codes, table, nodata, offset=(0, 0)):
    """Recodes an integer array of codes: (int32 labels 1..K, K + 1 for
    nodata; class values in class order; whether any code is nodata).
    offset: where codes lie in the whole raster, for messages."""
    table_codes, values = table_rows(table)
    nodata = [_args._whole(c, "a nodata code") for c in nodata]
    return _recoded(codes, table_codes, values, nodata, offset)


def _recoded(codes, table_codes, values, nodata, offset=(0, 0)):
    """code_labels for a checked table and nodata codes: the core checks the
    table's codes against each other and recodes."""
    a = np.asarray(codes)
    if a.dtype.kind not in "iu":
        raise TypeError(f"the raster must hold class codes: integers, or floats holding whole "
                        f"numbers with NaN for nodata; it is {a.dtype}")
    if not a.dtype.isnative:
        a = a.astype(a.dtype.newbyteorder("="))
    labels, classes, _, problem = _core.recode(a, table_codes, values, nodata)
    if problem is not None:
        _args.raise_code_problem(problem, offset)
    return labels, classes, bool(nodata)


def map_options(policy, min_valid, border):
    if policy not in ("strict", "renormalise"):
        raise ValueError(f"policy must be 'strict' or 'renormalise'; it is {policy!r}")
    if isinstance(min_valid, (bool, np.bool_)) or not isinstance(min_valid, numbers.Real):
        raise TypeError(f"min_valid must be a fraction 0..1 of the window; it is {min_valid!r}")
    min_valid = float(min_valid)
    if not 0.0 <= min_valid <= 1.0:
        raise ValueError(f"min_valid must be a fraction 0..1 of the window; it is {min_valid}")
    if border not in ("nodata", "zero"):
        raise ValueError(f"border must be 'nodata' (NaN) or 'zero'; it is {border!r}")
    return policy, min_valid, (None if border == "zero" else np.nan)


def cell_metres(band):
    """A function giving the band's (cell height, cell width) in metres, for
    windows in metres: from .rio.resolution() and the linear unit of a
    projected CRS. A geographic CRS, or none, is refused for `window`."""
    def metres(window):
        import rioxarray  # noqa: F401  (gives DataArrays their .rio accessor)
        instead = ("; give the window in cells (circle(10)) or reproject the raster to a projected "
                   "CRS (.rio.reproject)")
        crs = band.rio.crs
        if crs is None:
            raise ValueError(f"window {window!r} is in metres, but the raster has no CRS{instead}")
        if not crs.is_projected:
            kind = "geographic, in degrees" if crs.is_geographic else "not projected"
            raise ValueError(f"window {window!r} is in metres, but the raster's CRS ({crs}) is "
                             f"{kind}{instead}")
        x, y = band.rio.resolution()
        unit = crs.linear_units_factor[1]
        return abs(y) * unit, abs(x) * unit
    return metres


def result_array(data, like, name, window, footprint, edges, seed, arithmetic):
    """A DataArray of data with like's dims, coords and attributes, marked
    as a map of this package."""
    attrs = {k: v for k, v in like.attrs.items() if k in _KEPT_ATTRS}
    attrs.update(raster_maps_map=name, raster_maps_window=f"{window[0]}x{window[1]}",
                 raster_maps_footprint=str(footprint),
                 raster_maps_footprint_cells=_core.footprint_cells(window),
                 raster_maps_edges=edges, raster_maps_arithmetic=arithmetic, _FillValue=np.nan)
    if seed is not None:
        attrs["raster_maps_seed"] = seed
    out = xr.DataArray(data, dims=like.dims, coords=like.coords, attrs=attrs, name=name)
    grid_mapping = like.encoding.get("grid_mapping", like.attrs.get("grid_mapping"))
    if grid_mapping is not None:
        out.encoding["grid_mapping"] = grid_mapping
    return out


def _in_memory(name, table_codes, values, nodata, window, band, probes_per_cell, seed, threads,
               arithmetic, edges, policy, min_valid, unscored):
    codes, nodata = integer_codes(band.values, nodata, table_codes)
    labels, classes, nodata = _recoded(codes, table_codes, values, nodata)
    out, problem = _core.run_map(name, classes, window, labels, probes_per_cell, seed,
                                 threads, nodata, policy, min_valid, unscored, arithmetic, edges)
    if problem is not None:
        _args.raise_problem(problem, name, classes, min_valid,
                            code_table=(list(zip(table_codes, values)), nodata), window=window)
    return out


def _recode_block(block, table_codes, values, nodata, marker, block_info=None):
    (r0, _), (c0, _) = block_info[0]["array-location"]
    codes, nodata = integer_codes(block, nodata, table_codes, (r0, c0), marker)
    return _recoded(codes, table_codes, values, nodata, offset=(r0, c0))[0]


def _lazy(name, table_codes, values, nodata, window, band, probes_per_cell, seed, threads,
          arithmetic, edges, policy, min_valid, unscored):
    """The map of a band as a dask array: its chunks recoded to labels
    lazily, then mapped by raster_maps.dask."""
    import dask.array as da
    from . import dask as rmd
    data = band.data if isinstance(band.data, da.Array) else da.from_array(band.values)
    rmd.known_chunks(data)
    # Float chunks may hold NaN and masked chunks masked cells: nodata by
    # themselves, marked with one code for the whole graph.
    marker = None
    if data.dtype.kind == "f" or _args.is_masked(data):
        marker = nodata_marker(np.int64 if data.dtype.kind == "f" else data.dtype, table_codes, nodata)
    # The class values, from the core's check of the table against the
    # nodata codes, once for the whole graph.
    classes = _recoded(np.zeros((0, 0), np.int64), table_codes, values, nodata)[1]
    labels = data.map_blocks(_recode_block, table_codes, values, nodata, marker, dtype=np.int32,
                             meta=np.empty((0, 0), np.int32))
    return rmd.label_map(name, classes, window, labels, probes_per_cell, seed,
                         arithmetic=arithmetic, edges=edges, nodata=bool(nodata) or marker is not None, policy=policy,
                         min_valid=min_valid, unscored=unscored)


def _mapped(entry, table, window, labels, probes_per_cell, seed, lazy, *, src_nodata, exclude,
            policy, min_valid, border, band, threads, arithmetic, edges):
    footprint = _args.footprint_of(window)
    arithmetic = _args.arithmetic_of(arithmetic)
    edges = _args.edges_of(edges)
    band = band_of(labels, band)
    window = _args.window_of(footprint, cell_metres(band))
    policy, min_valid, unscored = map_options(policy, min_valid, border)
    threads = _args.threads_of(threads)
    table_codes, values = table_rows(table)
    nodata = nodata_codes(band, *checked_nodata(band, src_nodata, exclude))
    # Stays lazy on dask-backed data, chunk by chunk, as xarray does.
    run = _lazy if lazy or _is_dask_backed(band) else _in_memory
    out = run(entry["name"], table_codes, values, nodata, window, band, probes_per_cell,
              0 if seed is None else seed, threads, arithmetic, edges, policy, min_valid, unscored)
    return result_array(out, band, entry["name"], window, footprint, edges, seed, arithmetic)


def _is_dask_backed(labels):
    try:
        import dask.array as da
    except ImportError:  # pragma: no cover
        return False
    return isinstance(labels.data, da.Array)


def _map(entry, table, window, labels, probes_per_cell=_args.DEFAULT_PROBES_PER_CELL, *, seed=None,
         **options):
    if entry["random"]:
        seed = _args.seed_of(seed, _core.clock_seed)
    return _mapped(entry, table, window, labels, _args.probes_of(probes_per_cell), seed, False,
                   **options)


_OPTIONS = dict(src_nodata=_RASTER_NODATA, exclude=(), policy="strict", min_valid=0.5,
                border="nodata", band=1, threads=None)


def lazy_map(entry, table, window, labels, probes_per_cell, seed, arithmetic, edges, **options):
    """A map of a DataArray of codes as a lazy DataArray, in memory or not:
    raster_maps.dask's maps of DataArrays. probes_per_cell and seed are
    checked already; options are this module's."""
    unknown = sorted(set(options) - set(_OPTIONS))
    if unknown:
        raise TypeError(f"unknown option {unknown[0]!r}; the options are {', '.join(_OPTIONS)}")
    return _mapped(entry, table, window, labels, probes_per_cell, seed if entry["random"] else None,
                   True, arithmetic=arithmetic, edges=edges, **{**_OPTIONS, **options})


_NOTES = {
    "table": "a mapping {{code: value}}, or (code, value) pairs: {meaning}. Codes lie in "
             "-2**63 .. 2**63 - 1; classes follow them in increasing order.",
    "window": "an int (a square window), an (h, w) pair, an array whose shape is used, "
              "rectangle(h, w), circle(radius) or annulus(inner, outer); sizes in cells, or "
              "strings of metres (circle('300m'), rectangle('630m', '450m')) in a projected CRS.",
    "labels": "a DataArray of class codes, 2-D or 3-D with a band dimension: integers, or floats "
              "holding whole numbers with NaN for nodata. Dask-backed gives a lazy result.",
    "probes_per_cell": "0 or more probes per raster cell, shared among the points.",
    "seed": "a whole number 0 .. 2**32 - 1, or None for the clock in whole seconds; the seed used "
            "is the result's raster_maps_seed attribute.",
    "src_nodata": "the nodata code; by default the array's own (_FillValue as stored, else "
                  ".rio.nodata), None for none.",
    "exclude": "a code or a list of codes that are nodata too.",
    "policy": "'strict': a window holding nodata gets NaN; 'renormalise': scored over its valid "
              "cells when at least min_valid of them are valid.",
    "min_valid": "the fraction 0..1 of a window's cells that must be valid under 'renormalise'.",
    "border": "'nodata' gives NaN to the cells no window scores, 'zero' the plug-ins' 0.",
    "band": "the band of a 3-D array, 1-based as GDAL counts.",
    "threads": "None for every core, or a cap of 1 or more (at most 4 per core are used).",
}

_functions = map_functions(
    __name__, _map, [("seed", None), *_OPTIONS.items()], _NOTES,
    "Returns a float64 DataArray with the input's dims and coordinates and the attributes that "
    "still hold, named after the map.")
globals().update(_functions)
__all__ = [*_functions, "code_labels"]
