"""arithmetic="exact", every front end's default: means from exact window
sums, the same bits on every path (numpy, xarray, dask, the command line),
and arithmetic="plugin" for the plug-ins' own bits."""
import os
import subprocess
from fractions import Fraction

import numpy as np
import pytest

import raster_maps as rm
from raster_maps import _core
from conftest import MAPS, call_map, patchy_labels

da = pytest.importorskip("dask.array")
xr = pytest.importorskip("xarray")
import raster_maps.dask as rmd  # noqa: E402
import raster_maps.xarray as rmx  # noqa: E402

CODES = np.array([11, 21, 41, 52, 90])
# Values a summed-area table of doubles cannot hold apart: 1e-9 is lost
# next to 1e9, and 0.1 and 1/3 are no binary fractions.
AWKWARD = np.array([0.1, 1 / 3, 1e-9, 1e9, 0.7])


def scored_windows(name, shape, window):
    """(centre row, centre column, top row, left column) of every scored
    window, 0-based."""
    h, w = window
    r0, r1, c0, c1 = _core.scored_cells(name, *shape, (h, w, "rectangle", 0.0, 0.0, 1.0, 1.0), "inside")
    for r in range(r0, r1):
        for c in range(c0, c1):
            yield r, c, r - h // 2, c - w // 2


def test_a_window_of_one_class_gives_exactly_its_value():
    labels = np.ones((30, 30), np.int32)
    out = rm.varnok([0.2, 0.9], 3, labels)
    scored = out != 0
    assert scored.sum() == (30 - 3 + 1) ** 2 and (out[scored] == 0.2).all()
    assert (rm.varnok([0.2, 0.9], 3, labels, arithmetic="plugin")[scored] != 0.2).any()


def test_values_that_are_never_negative_never_give_a_negative_mean():
    rng = np.random.default_rng(3)
    r, c = np.indices((1500, 1500))
    labels = rng.integers(1, 11, r.shape).astype(np.int32)
    labels[(r // 40 + c // 40) % 3 == 0] = 1  # blocks of the class of value 0
    table = np.r_[0.0, rng.uniform(0, 1, 9)]
    for name in ("varnok", "marnisa"):
        exact = call_map(rm, name, table, 9, labels, 3)
        plugin = call_map(rm, name, table, 9, labels, 3, arithmetic="plugin")
        assert (exact >= 0).all(), name
        assert (plugin < 0).any(), name  # what the plug-ins' arithmetic gives
        # A window of the zero class alone is exactly 0.
        assert (exact[np.abs(plugin) < 1e-9] == 0).all(), name


def test_varnok_is_the_correctly_rounded_exact_mean():
    labels = patchy_labels(38, 43, len(AWKWARD), 7)
    exact_values = [Fraction(v) for v in AWKWARD]
    for window in [(1, 1), (3, 3), (6, 5), (2, 7)]:
        h, w = window
        out = rm.varnok(AWKWARD, window, labels)
        plugin = rm.varnok(AWKWARD, window, labels, arithmetic="plugin")
        differs = False
        for r, c, top, left in scored_windows("varnok", labels.shape, window):
            cells = labels[top:top + h, left:left + w].ravel()
            want = float(sum(exact_values[k - 1] for k in cells) / (h * w))
            assert out[r, c] == want, (window, r, c)
            differs |= plugin[r, c] != want
        assert differs, window


def landcover(M, N, seed):
    labels = patchy_labels(M, N, len(CODES), seed)
    codes = xr.DataArray(CODES[labels - 1].astype(np.int16), dims=("y", "x"),
                         coords={"y": 4000.0 - 30.0 * np.arange(M), "x": 500.0 + 30.0 * np.arange(N)})
    return labels, codes


def random_chunks(size, rng):
    cuts = []
    while sum(cuts) < size:
        cuts.append(int(min(size - sum(cuts), rng.integers(1, 30))))
    return tuple(cuts)


@pytest.mark.parametrize("name", MAPS)
def test_numpy_xarray_and_dask_give_the_same_exact_bits(name):
    labels, codes = landcover(71, 64, 11)
    table = dict(zip(CODES.tolist(), AWKWARD))
    want = call_map(rm, name, AWKWARD, (7, 6), labels, 5)
    plugin = call_map(rm, name, AWKWARD, (7, 6), labels, 5, arithmetic="plugin")
    if name in ("varnok", "marnisa"):
        assert want.tobytes() != plugin.tobytes()
    got = call_map(rmx, name, table, (7, 6), codes, 5, border="zero")
    assert got.attrs["raster_maps_arithmetic"] == "exact"
    assert got.values.tobytes() == want.tobytes()
    rng = np.random.default_rng(12)
    for _ in range(3):
        chunks = (random_chunks(71, rng), random_chunks(64, rng))
        lazy = call_map(rmd, name, AWKWARD, (7, 6), da.from_array(labels, chunks=chunks), 5)
        assert lazy.compute(scheduler="threads").tobytes() == want.tobytes(), chunks
        lazy = call_map(rmx, name, table, (7, 6), codes.chunk(dict(zip(("y", "x"), chunks))), 5,
                        border="zero")
        assert lazy.values.tobytes() == want.tobytes(), chunks
    # plugin travels through the dask graph and the xarray attributes too.
    lazy = call_map(rmd, name, AWKWARD, (7, 6), da.from_array(labels, chunks=13), 5,
                    arithmetic="plugin")
    assert lazy.compute().tobytes() == plugin.tobytes()
    got = call_map(rmx, name, table, (7, 6), codes.chunk(17), 5, border="zero", arithmetic="plugin")
    assert got.values.tobytes() == plugin.tobytes()
    assert got.attrs["raster_maps_arithmetic"] == "plugin"


def test_the_command_line_gives_the_same_exact_bits(tmp_path):
    rioxarray = pytest.importorskip("rioxarray")
    build = os.environ.get("RASTER_MAPS_TEST_BUILD",
                           os.path.join(os.path.dirname(__file__), "..", "..", "build"))
    tool = os.path.join(build, "raster-maps")
    if not os.path.exists(tool):
        pytest.skip("no raster-maps in the build folder")
    _, codes = landcover(83, 70, 13)
    codes.rio.write_crs("EPSG:32633").rio.to_raster(tmp_path / "in.tif")
    (tmp_path / "t.csv").write_text("".join(f"{c},{v!r}\n" for c, v in zip(CODES, AWKWARD)))
    table = dict(zip(CODES.tolist(), AWKWARD))
    for name in MAPS:
        want = call_map(rmx, name, table, (9, 5), codes, 4).values
        for how in (["--strip-rows", "1", "--threads", "1"], ["--strip-rows", "6", "--threads", "3"], []):
            args = [tool, name, "-q", "--overwrite", "--table", str(tmp_path / "t.csv"), "--window", "9x5",
                    *how, str(tmp_path / "in.tif"), str(tmp_path / "out.tif")]
            if name in ("marnisa", "dravix"):
                args[2:2] = ["--seed", "4"]
            subprocess.run(args, check=True, timeout=120)
            with rioxarray.open_rasterio(tmp_path / "out.tif") as out:
                assert out.values[0].tobytes() == want.tobytes(), (name, how)
                assert out.attrs["RASTER_MAPS_ARITHMETIC"] == "exact"


@pytest.mark.parametrize("bad", ["fast", "Exact", "", None, 1, b"exact"])
def test_an_unknown_arithmetic_is_refused_by_every_front_end(bad):
    labels, codes = landcover(40, 40, 14)
    table = dict(zip(CODES.tolist(), AWKWARD))
    message = r"arithmetic must be 'exact' or 'plugin'; it is "
    for call in (lambda: rm.varnok(AWKWARD, 5, labels, arithmetic=bad),
                 lambda: rm.dravix(AWKWARD, 5, labels, seed=1, arithmetic=bad),
                 lambda: rmx.sulmet(table, 5, codes, arithmetic=bad),
                 lambda: rmx.marnisa(table, 5, codes.chunk(10), arithmetic=bad),
                 lambda: rmd.ombrel(AWKWARD, 5, da.from_array(labels, chunks=10), arithmetic=bad),
                 lambda: rmd.varnok(table, 5, codes.chunk(10), arithmetic=bad)):
        with pytest.raises(ValueError, match=message):
            call()
