"""Windows as users draw them: rectangles, circles and annuli in cells or
metres, and the edge rule, in numpy, xarray and dask, against direct
per-window computations."""
import dask.array as dsk
import numpy as np
import pytest
import rioxarray  # noqa: F401
import xarray as xr

import raster_maps as rm
import raster_maps.dask as rmd
import raster_maps.xarray as rmx
from conftest import MAPS, call_map, patchy_labels

TABLE = np.array([0.1, 0.9, 0.35, 0.6])


def disc_offsets(inner, outer, ry=1.0, rx=1.0):
    """The offsets of a circle (inner None) or an annulus, by definition."""
    R = int(outer // min(ry, rx)) + 1
    return [(i, j) for i in range(-R, R + 1) for j in range(-R, R + 1)
            if (i * ry) ** 2 + (j * rx) ** 2 <= outer**2 and
            (inner is None or inner**2 < (i * ry) ** 2 + (j * rx) ** 2)]


def direct_means(labels, offsets):
    """The mean class value over offsets around every cell whose offsets all
    lie inside the raster; NaN elsewhere."""
    M, N = labels.shape
    values = TABLE[labels - 1]
    out = np.full((M, N), np.nan)
    for r in range(M):
        for c in range(N):
            cells = [(r + i, c + j) for i, j in offsets]
            if all(0 <= a < M and 0 <= b < N for a, b in cells):
                out[r, c] = np.mean([values[a, b] for a, b in cells])
    return out


def test_footprints_are_small_immutable_values_with_readable_reprs():
    assert repr(rm.rectangle(21, 15)) == "rectangle(21, 15)" and repr(rm.rectangle(7)) == "rectangle(7, 7)"
    assert repr(rm.circle("300m")) == "circle('300m')" and str(rm.circle("300m")) == "circle:300m"
    assert repr(rm.annulus(5, 10)) == "annulus(5, 10)" and str(rm.annulus(5, 10)) == "annulus:5,10"
    assert rm.circle(3) == rm.circle(3) and hash(rm.circle(3)) == hash(rm.circle(3))
    with pytest.raises(AttributeError):
        rm.circle(3).radius = 4
    for bad, error in [(lambda: rm.circle("300 m"), ValueError), (lambda: rm.circle("3km"), ValueError),
                       (lambda: rm.circle(None), TypeError), (lambda: rm.rectangle(2.5), TypeError),
                       (lambda: rm.rectangle("630m", 15), ValueError),
                       (lambda: rm.annulus(5, "10m"), ValueError)]:
        with pytest.raises(error):
            bad()


def test_numpy_refuses_metres_and_unknown_edges_and_the_core_words_bad_footprints():
    labels = patchy_labels(30, 30, 4, 1)
    with pytest.raises(ValueError, match=r"window circle\('300m'\) is in metres, but an array has no pixel size"):
        rm.varnok(TABLE, rm.circle("300m"), labels)
    with pytest.raises(ValueError, match=r"edges must be 'inside', 'margin' or 'partial'; it is 'edge'"):
        rm.varnok(TABLE, 5, labels, edges="edge")
    with pytest.raises(ValueError, match=r"window: an annulus's radii must be finite with 0 <= inner < outer"):
        rm.sulmet(TABLE, rm.annulus(4, 2), labels)
    with pytest.raises(ValueError, match="circles and annuli need exact arithmetic"):
        rmd.ombrel(TABLE, rm.circle(2), dsk.from_array(labels, chunks=10), arithmetic="plugin")


def test_inside_by_default_and_circles_are_the_mean_over_their_cells():
    labels = patchy_labels(23, 26, 4, 2)
    cases = [((5, 4), [(i, j) for i in range(-2, 3) for j in range(-2, 2)]),
             (rm.circle(3), disc_offsets(None, 3)),
             (rm.circle(2.5), disc_offsets(None, 2.5)),
             (rm.annulus(0, 3), disc_offsets(0, 3)),
             (rm.annulus(1.5, 3), disc_offsets(1.5, 3))]
    for window, offsets in cases:
        out = rm.varnok(TABLE, window, labels)
        want = direct_means(labels, offsets)
        np.testing.assert_allclose(out[~np.isnan(want)], want[~np.isnan(want)], rtol=0, atol=1e-12,
                                   err_msg=repr(window))
        assert (out[np.isnan(want)] == 0).all(), window


@pytest.mark.parametrize("name", MAPS)
@pytest.mark.parametrize("edges", ["inside", "partial"])
def test_dask_gives_the_in_memory_bits_for_every_chunking_with_circles(name, edges):
    labels = patchy_labels(47, 41, 4, 3)
    for window in (rm.circle(4), rm.annulus(2, 5), (7, 6)):
        want = call_map(rm, name, TABLE, window, labels, 5, edges=edges)
        for chunks in [(47, 41), (13, 9), (5, 17), ((3, 30, 14), (1, 2, 38))]:
            got = call_map(rmd, name, TABLE, window, dsk.from_array(labels, chunks=chunks), 5, edges=edges)
            assert got.compute(scheduler="threads").tobytes() == want.tobytes(), (window, chunks)


def georeferenced(labels, ry, rx, crs):
    M, N = labels.shape
    da = xr.DataArray((labels * 10).astype(np.uint8), dims=("y", "x"),
                      coords={"y": 4000.0 - ry * np.arange(M), "x": 500.0 + rx * np.arange(N)})
    return da.rio.write_crs(crs) if crs else da


def test_metres_on_non_square_pixels_through_the_resolution_and_the_crs_unit():
    labels = patchy_labels(40, 36, 4, 4)
    codes = {10 * (k + 1): v for k, v in enumerate(TABLE)}
    da = georeferenced(labels, 20.0, 30.0, "EPSG:32633")
    out = rmx.varnok(codes, rm.rectangle("630m", "450m"), da)
    assert out.attrs["raster_maps_window"] == "32x15"   # 31.5 rows round up
    assert out.attrs["raster_maps_footprint"] == "630mx450m"
    assert out.attrs["raster_maps_footprint_cells"] == 480 and out.attrs["raster_maps_edges"] == "inside"
    circle = rmx.varnok(codes, rm.circle("60m"), da)
    assert circle.attrs["raster_maps_window"] == "7x5" and circle.attrs["raster_maps_footprint_cells"] == 19
    want = direct_means(labels, disc_offsets(None, 60.0, 20.0, 30.0))
    np.testing.assert_allclose(circle.values, want, rtol=0, atol=1e-12)  # NaN where want is
    lazy = rmd.varnok(codes, rm.circle("60m"), da.chunk({"y": 11, "x": 7}))
    assert lazy.values.tobytes() == circle.values.tobytes()
    feet = rmx.varnok(codes, rm.circle("300m"), georeferenced(labels, 100.0, 100.0, "EPSG:2227"))
    assert feet.attrs["raster_maps_window"] == "19x19"  # 100 US survey feet are 30.48 m


def test_metres_refused_without_a_projected_crs():
    labels = patchy_labels(20, 20, 4, 5)
    codes = {10 * (k + 1): v for k, v in enumerate(TABLE)}
    for crs, says in [("EPSG:4326", "geographic, in degrees"), (None, "has no CRS")]:
        da = georeferenced(labels, 0.001, 0.001, crs)
        for module in (rmx, rmd):
            with pytest.raises(ValueError, match=f"is in metres, but the raster.*{says}.*in cells"):
                module.varnok(codes, rm.circle("300m"), da if module is rmx else da.chunk(5))
        assert rmx.varnok(codes, rm.circle(2), da).attrs["raster_maps_footprint"] == "circle:2"
