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
                      attrs={"long_name": "land cover", "AREA_OR_POINT": "Area"})
    return da.rio.write_crs("EPSG:32633").rio.write_nodata(NODATA), labels


call = functools.partial(call_map, default_seed=5)


@pytest.mark.parametrize("name", MAPS)
def test_codes_recode_to_the_plugins_labels(name):
    da, labels = landcover(hole=False)
    out = call(rmx, name, TABLE, 7, da, border="zero")
    assert out.values.tobytes() == call(rm, name, VALUES, 7, labels).tobytes()
    assert out.name == name and out.dtype == np.float64
    assert out.attrs["raster_maps_window"] == "7x7" and np.isnan(out.attrs["_FillValue"])
    assert "long_name" not in out.attrs and out.attrs["AREA_OR_POINT"] == "Area"
    assert out.rio.crs == da.rio.crs
    assert out.rio.transform() == da.rio.transform()
    xr.testing.assert_identical(out.coords.to_dataset(), da.coords.to_dataset())


def test_unscored_cells_are_nodata_unless_border_zero():
    da, labels = landcover(hole=False)
    out = rmx.sulmet(TABLE, (5, 9), da, edges="margin").values
    zero = rmx.sulmet(TABLE, (5, 9), da, border="zero", edges="margin").values
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
    for i in range(64 - 5 + 1):
        for j in range(72 - 5 + 1):
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
    # One code alone, and a nodata value as GDAL stores it, a double.
    assert rmx.varnok(TABLE, 5, da, exclude=77, src_nodata=255.0).identical(
        rmx.varnok(TABLE, 5, da, exclude=[77]))
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


def test_a_written_map_keeps_the_georeferencing_but_none_of_the_codes_attributes(tmp_path):
    da, _ = landcover()
    da.attrs.update(STATISTICS_MAXIMUM=95, STATISTICS_MEAN=40.5, units="class", valid_range=[0, 255],
                    flag_values=[11, 21], scale_factor=1.0, add_offset=0.0)
    da.expand_dims(band=[1]).rio.to_raster(tmp_path / "landcover.tif")
    for masked in (False, True):
        opened = rioxarray.open_rasterio(tmp_path / "landcover.tif", masked=masked)
        assert opened.attrs["STATISTICS_MAXIMUM"] == 95 and opened.attrs["long_name"] == "land cover"
        rmx.varnok(TABLE, 5, opened).rio.to_raster(tmp_path / "map.tif")
        back = rioxarray.open_rasterio(tmp_path / "map.tif")
        # GDAL gives every band a scale and offset, and the band's
        # description (the map's name) comes back as long_name.
        assert back.attrs["long_name"] == "varnok" and back.attrs["raster_maps_window"] == "5x5"
        assert not {"STATISTICS_MAXIMUM", "STATISTICS_MEAN", "units", "valid_range",
                    "flag_values"} & set(back.attrs)
        assert np.isnan(back.rio.nodata) and back.rio.crs == da.rio.crs
        assert back.rio.transform() == da.rio.transform()
    # A grid_mapping attribute, as netCDF files opened without decoding
    # coordinates hold it, is written from the encoding alone.
    da.attrs["grid_mapping"] = "spatial_ref"
    rmx.varnok(TABLE, 5, da).to_netcdf(tmp_path / "map.nc")
    assert xr.open_dataset(tmp_path / "map.nc", decode_coords="all")["varnok"].rio.crs == da.rio.crs


def test_float_codes_with_nan_for_nodata_are_codes(tmp_path):
    """rioxarray's masked=True, the usual way to open a land-cover GeoTIFF:
    floats, NaN where the file has its nodata value."""
    da, _ = landcover()
    da.expand_dims(band=[1]).rio.to_raster(tmp_path / "landcover.tif")
    expected = {name: call(rmx, name, TABLE, 7, da, policy="renormalise").values for name in MAPS}
    for chunks in (None, {"x": 25, "y": 20}):
        masked = rioxarray.open_rasterio(tmp_path / "landcover.tif", masked=True, chunks=chunks)
        assert masked.dtype.kind == "f" and np.isnan(masked.values).any()
        for name in MAPS:
            out = call(rmx, name, TABLE, 7, masked, policy="renormalise")
            assert out.values.tobytes() == expected[name].tobytes(), (name, chunks)
    # Whole floats with a declared nodata value, and masked dask chunks.
    floats = da.astype(np.float32).rio.write_nodata(-9999.0)
    floats.values[floats.values == NODATA] = -9999.0
    dask_array = pytest.importorskip("dask.array")
    masked_chunks = xr.DataArray(dask_array.ma.masked_equal(dask_array.from_array(da.values, 16),
                                                            NODATA), dims=da.dims)
    for codes in (floats, floats.chunk(30), masked_chunks):
        out = rmx.sulmet(TABLE, 7, codes, policy="renormalise")
        assert out.values.tobytes() == rmx.sulmet(TABLE, 7, da, policy="renormalise").values.tobytes()
    # A float32 NaN or an infinity as the declared nodata marks NaN cells only.
    nan_cells = da.astype(np.float32).where(da != NODATA)
    for fill in (np.float32(np.nan), np.float32(np.inf), -np.inf):
        out = rmx.sulmet(TABLE, 7, nan_cells.assign_attrs(_FillValue=fill), policy="renormalise")
        assert out.values.tobytes() == rmx.sulmet(TABLE, 7, da, policy="renormalise").values.tobytes()
    floats.values[40, 12] = 21.5
    for codes in (floats, floats.chunk(30)):
        with pytest.raises(ValueError, match=r"holds 21\.5 at row 40, column 12, which is no class code"):
            rmx.varnok(TABLE, 7, codes).values


@pytest.mark.parametrize("arguments, error, message", [
    (dict(window=2**64), ValueError, "at most 2\\*\\*63 - 1"),
    (dict(window=None), TypeError, "window must be a whole number"),
    (dict(table=None), TypeError, "table must map class codes to values"),
    (dict(table="11"), TypeError, "table must map class codes to values"),
    (dict(table={11: "0.1", 21: 1.0}), TypeError, "table value of code 11 must be a real number"),
    (dict(table={2**70: 1.0}), ValueError, "table code 1180591620717411303424 is beyond 64 bits"),
    (dict(table={11.5: 1.0}), TypeError, "table code must be a whole number"),
    (dict(seed=2**32), ValueError, "seed must lie in"),
    (dict(seed="1"), TypeError, "seed must be a whole number"),
    (dict(probes_per_cell=2**40), ValueError, "probes_per_cell must be"),
    (dict(probes_per_cell=1.5), TypeError, "probes_per_cell must be a whole number"),
    (dict(threads=0), ValueError, "threads must be 1 or more"),
    (dict(threads="all"), TypeError, "threads must be a whole number"),
    (dict(min_valid="half"), TypeError, "min_valid must be a fraction"),
    (dict(min_valid=None), TypeError, "min_valid must be a fraction"),
    (dict(min_valid=np.array([0.5, 0.5])), TypeError, "min_valid must be a fraction"),
    (dict(band="1"), TypeError, "band must be a whole number"),
    (dict(band=True), TypeError, "band must be a whole number"),
    (dict(band=2**70), ValueError, "band 1180591620717411303424 does not exist"),
    (dict(exclude=None), TypeError, "exclude must be a code or a list of codes"),
    (dict(exclude="11"), TypeError, "exclude must be a code or a list of codes"),
    (dict(exclude=[2**64]), ValueError, "excluded code 18446744073709551616 is beyond 64 bits"),
    (dict(exclude=[1.5]), TypeError, "excluded code must be a whole number"),
    (dict(src_nodata=-(2**63) - 1), ValueError, "src_nodata -9223372036854775809 is beyond"),
    (dict(src_nodata=0.5), ValueError, "src_nodata must be a whole-number code"),
    (dict(src_nodata="255"), TypeError, "src_nodata must be a whole number"),
    (dict(colour="red"), TypeError, "unknown option 'colour'"),
])
def test_hostile_arguments_are_refused_in_words(arguments, error, message):
    da, _ = landcover()
    args = {**dict(table=TABLE, window=5, seed=1, probes_per_cell=3), **arguments}
    table, window = args.pop("table"), args.pop("window")
    probes = args.pop("probes_per_cell")
    for labels in (da.expand_dims(band=[1]), da.expand_dims(band=[1]).chunk(30)):
        with pytest.raises(error, match=message):
            rmx.dravix(table, window, labels, probes, **args).values
