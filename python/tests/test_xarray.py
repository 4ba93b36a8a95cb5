"""raster_maps.xarray: class codes and nodata as the command-line tool
treats them, and coordinates, attributes and CRS kept."""
import functools

import numpy as np
import pytest
import xarray as xr

rioxarray = pytest.importorskip("rioxarray")

import raster_maps as rm
import raster_maps.xarray as rmx
from conftest import MAPS, patchy_labels, call_map

CODES = np.array([11, 21, 41, 90])
TABLE = {41: 0.6, 11: 0.1, 90: 0.05, 21: 1.0}  # any order: classes follow the codes
VALUES = np.array([0.1, 1.0, 0.6, 0.05])
NODATA = 255


def landcover(M=64, N=72, seed=1, hole=True):
    labels = patchy_labels(M, N, 4, seed)
    codes = CODES[labels - 1].astype(np.uint8)
    if hole:
        codes[30:33, 40:42] = NODATA  # a nodata hole
        codes[:, N - 15:] = NODATA    # and a nodata edge
    da = xr.DataArray(codes, dims=("y", "x"),
                      coords={"y": 4000.0 - 30.0 * np.arange(M), "x": 500.0 + 30.0 * np.arange(N)},
                      attrs={"long_name": "land cover"})
    return da.rio.write_crs("EPSG:32633").rio.write_nodata(NODATA), labels


call = functools.partial(call_map, default_seed=5)


@pytest.mark.parametrize("name", MAPS)
def test_codes_recode_to_the_plugins_labels(name):
    da, labels = landcover(hole=False)
    out = call(rmx, name, TABLE, 7, da, border="zero")
    assert out.values.tobytes() == call(rm, name, VALUES, 7, labels).tobytes()
    assert out.name == name and out.dtype == np.float64
    assert out.attrs["raster_maps_window"] == "7x7" and np.isnan(out.attrs["_FillValue"])
    assert out.attrs["long_name"] == "land cover"
    assert out.rio.crs == da.rio.crs
    assert out.rio.transform() == da.rio.transform()
    xr.testing.assert_identical(out.coords.to_dataset(), da.coords.to_dataset())


def test_unscored_cells_are_nodata_unless_border_zero():
    da, labels = landcover(hole=False)
    out = rmx.sulmet(TABLE, (5, 9), da).values
    zero = rmx.sulmet(TABLE, (5, 9), da, border="zero").values
    scored = np.zeros(out.shape, bool)
    scored[12:64 - 11 - 2, 14:72 - 11 - 4] = True
    assert np.isnan(out[~scored]).all() and (zero[~scored] == 0).all()
    assert out[scored].tobytes() == zero[scored].tobytes()


@pytest.mark.parametrize("name", MAPS)
def test_strict_nodata_windows_are_nan_and_the_rest_keep_their_bits(name):
    da, labels = landcover()
    out = call(rmx, name, TABLE, 5, da).values
    # The same raster with the nodata cells as a fifth class of value 0.
    with_class = np.where(da.values == NODATA, 5, labels).astype(np.int32)
    plain = call(rm, name, np.append(VALUES, 0.0), 5, with_class)
    nodata = (da.values == NODATA).astype(float)
    touched = np.zeros(out.shape, bool)
    for i in range(10, 64 - 5 - 10):
        for j in range(10, 72 - 5 - 10):
            touched[i + 2, j + 2] = nodata[i:i + 5, j:j + 5].any()
    scored = ~np.isnan(call(rmx, name, TABLE, 5, landcover(hole=False)[0]).values)
    assert np.isnan(out[touched]).all()
    keep = scored & ~touched
    assert keep.sum() > 500
    assert out[keep].tobytes() == plain[keep].tobytes()


def test_renormalise_averages_over_valid_cells():
    da, labels = landcover()
    out = rmx.varnok(TABLE, 5, da, policy="renormalise", min_valid=0.6).values
    value = np.where(da.values == NODATA, np.nan, VALUES[labels - 1])
    for i, j in [(28, 38), (31, 41), (40, 56), (20, 20), (45, 58), (33, 43)]:
        window = value[i - 2:i + 3, j - 2:j + 3]
        valid = np.isfinite(window).sum()
        expected = np.nansum(window) / valid if valid >= 0.6 * 25 else np.nan
        np.testing.assert_allclose(out[i, j], expected, rtol=1e-12)
    shares = rmx.sulmet(TABLE, 5, da, policy="renormalise").values
    window = labels[29:34, 39:44][da.values[29:34, 39:44] != NODATA]
    q = np.bincount(window, minlength=5)[1:] / window.size
    np.testing.assert_allclose(shares[31, 41], 1 - 0.5 * ((q - VALUES) ** 2).sum(), rtol=1e-12)


def test_codes_nodata_and_options():
    da, _ = landcover()
    da.values[3, 4] = 77
    with pytest.raises(ValueError, match=r"code 77 at row 3, column 4 is neither in the table nor nodata"):
        rmx.varnok(TABLE, 5, da)
    assert np.isfinite(rmx.varnok(TABLE, 5, da, exclude=[77]).values).any()
    da.values[3, 4] = 11
    with pytest.raises(ValueError, match=r"code 255 at row 0, column 57"):
        rmx.varnok(TABLE, 5, da, src_nodata=None)
    excluded = np.isnan(rmx.ombrel(TABLE, 5, da, exclude=[11]).values).sum()
    assert excluded > np.isnan(rmx.ombrel(TABLE, 5, da).values).sum()
    with pytest.raises(ValueError, match="no class left"):
        rmx.ombrel({255: 1.0}, 5, da)
    with pytest.raises(ValueError, match="policy"):
        rmx.varnok(TABLE, 5, da, policy="lenient")
    with pytest.raises(ValueError, match="min_valid"):
        rmx.varnok(TABLE, 5, da, policy="renormalise", min_valid=1.5)
    with pytest.raises(TypeError, match="integer class codes"):
        rmx.varnok(TABLE, 5, da.astype(float))
    with pytest.raises(TypeError, match="DataArray"):
        rmx.varnok(TABLE, 5, da.values)
    out = rmx.marnisa(TABLE, 5, da)
    assert 0 <= out.attrs["raster_maps_seed"] < 2**32


def test_a_geotiff_round_trip_keeps_the_georeferencing(tmp_path):
    da, labels = landcover()
    path = tmp_path / "landcover.tif"
    da.expand_dims(band=[1]).rio.to_raster(path)
    opened = rioxarray.open_rasterio(path)
    assert opened.dims == ("band", "y", "x")
    out = rmx.dravix(TABLE, 9, opened, seed=3, policy="renormalise")
    assert out.values.tobytes() == rmx.dravix(TABLE, 9, da, seed=3, policy="renormalise").values.tobytes()
    assert out.rio.crs == da.rio.crs and out.rio.transform() == da.rio.transform()
    out.rio.to_raster(tmp_path / "density.tif")
    back = rioxarray.open_rasterio(tmp_path / "density.tif", masked=True)
    np.testing.assert_array_equal(back.values[0], out.values)
    with pytest.raises(ValueError, match="band 2"):
        rmx.varnok(TABLE, 5, opened, band=2)
