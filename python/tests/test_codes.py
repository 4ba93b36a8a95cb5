"""Class codes at the ends of the 64-bit dtypes: uint64 codes above
2**63 - 1 are nodata or refused with their own value, never wrapped or
clamped into a table code, and int64 codes down to -2**63 work."""
import functools

import numpy as np
import pytest
import xarray as xr

import raster_maps.xarray as rmx
from conftest import MAPS

TOP = 2**64 - 1
ABOVE = 2**63  # the least uint64 code no table can hold
TABLE = {5: 0.25, 7: 0.75, 9: 0.5}


def wide_and_plain(M=40, N=36, seed=2):
    """A uint64 raster of codes 5, 7, 9 with cells of 2**64 - 1, 2**63 + 1
    and 2**63 + 5, and an int64 copy with -1 in all of those."""
    codes = np.random.default_rng(seed).choice([5, 7, 9], (M, N))
    wide = codes.astype(np.uint64)
    wide[17:21, 10] = TOP
    wide[12, 20] = ABOVE + 1
    wide[25, 3] = ABOVE + 5
    plain = np.where(wide > 9, -1, codes).astype(np.int64)
    return wide, plain


def run(name, table, codes, **options):
    seed = {"seed": 4} if name in ("marnisa", "dravix") else {}
    return getattr(rmx, name)(table, (7, 5), codes, **seed, **options).values


@pytest.mark.parametrize("name", MAPS)
def test_uint64_codes_above_int64_max_are_nodata_as_declared(name):
    wide, plain = wide_and_plain()
    want = run(name, TABLE, xr.DataArray(plain, dims=("y", "x")), src_nodata=-1)
    assert np.isfinite(want).any()
    for fill in (np.uint64(TOP), TOP):
        da = xr.DataArray(wide, dims=("y", "x"), attrs={"_FillValue": fill})
        got = run(name, TABLE, da, exclude=[ABOVE + 1, ABOVE + 5])
        assert got.tobytes() == want.tobytes()
    bare = xr.DataArray(wide, dims=("y", "x"))
    got = run(name, TABLE, bare, src_nodata=np.uint64(TOP), exclude=[ABOVE + 5, ABOVE + 1])
    assert got.tobytes() == want.tobytes()


def test_uint64_codes_no_table_can_hold_are_refused_with_their_value():
    wide, _ = wide_and_plain()
    da = xr.DataArray(wide, dims=("y", "x"), attrs={"_FillValue": TOP})
    with pytest.raises(ValueError, match=r"code 9223372036854775809 at row 12, column 20 is not nodata "
                                         r"and is above 2\*\*63 - 1"):
        rmx.varnok(TABLE, 5, da)
    with pytest.raises(ValueError, match=r"code 18446744073709551615 at row 17, column 10 is not nodata"):
        rmx.varnok(TABLE, 5, da, src_nodata=None, exclude=[ABOVE + 1, ABOVE + 5])
    with pytest.raises(ValueError, match=r"excluded code 1180591620717411303424 is beyond 64 bits"):
        rmx.varnok(TABLE, 5, da, exclude=[2**70])
    with pytest.raises(ValueError, match=r"table code 9223372036854775808 is beyond the range of codes"):
        rmx.varnok({**TABLE, ABOVE: 1.0}, 5, da)
    labels, classes, nodata = rmx.code_labels(wide, TABLE, [np.uint64(TOP), ABOVE + 1, ABOVE + 5])
    assert nodata and labels.dtype == np.int32 and list(classes) == [0.25, 0.75, 0.5]
    assert labels[12, 20] == labels[17, 10] == 4 and set(np.unique(labels)) == {1, 2, 3, 4}


def test_dask_chunks_of_uint64_codes_give_the_in_memory_map():
    da = pytest.importorskip("dask.array")
    wide, _ = wide_and_plain()
    chunked = xr.DataArray(da.from_array(wide, chunks=(16, 12)), dims=("y", "x"), attrs={"_FillValue": TOP})
    whole = xr.DataArray(wide, dims=("y", "x"), attrs={"_FillValue": TOP})
    exclude = [ABOVE + 1, ABOVE + 5]
    lazy = rmx.sulmet(TABLE, 5, chunked, exclude=exclude)
    assert lazy.values.tobytes() == rmx.sulmet(TABLE, 5, whole, exclude=exclude).values.tobytes()
    with pytest.raises(ValueError, match=r"code 9223372036854775813 at row 25, column 3"):
        rmx.sulmet(TABLE, 5, chunked, exclude=[ABOVE + 1]).compute()


def test_int64_negative_codes_and_extremes():
    codes = np.random.default_rng(3).choice([-3, -1, -2**63], (30, 32)).astype(np.int64)
    small = np.select([codes == -3, codes == -1], [1, 2], 0).astype(np.int64)
    varnok = functools.partial(rmx.varnok, window=5, policy="renormalise")
    want = varnok({1: 0.25, 2: 0.75}, labels=xr.DataArray(small, dims=("y", "x")), src_nodata=0)
    assert np.isfinite(want.values).any()
    da = xr.DataArray(codes, dims=("y", "x"), attrs={"_FillValue": -2**63})
    got = varnok({-3: 0.25, -1: 0.75}, labels=da)
    assert got.values.tobytes() == want.values.tobytes()
    got = varnok({-2**63: 0.5, -3: 0.25, -1: 0.75}, labels=da, exclude=[-2**63])
    assert got.values.tobytes() == want.values.tobytes()
    # A cell far above the table's lowest, negative code is not in the table.
    top = np.full((30, 32), -3, np.int64)
    top[7, 9] = 2**63 - 1
    top[8, 9] = -1
    with pytest.raises(ValueError, match=r"code 9223372036854775807 at row 7, column 9 is neither"):
        rmx.varnok({-3: 0.25, -1: 0.75}, 5, xr.DataArray(top, dims=("y", "x")))
