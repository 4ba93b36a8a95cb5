"""The public functions of the three front ends: one per map of the core's
catalogue, with the signatures users call and help made from the entry."""
import inspect
import pydoc

import numpy as np
import pytest

import raster_maps as rm
from raster_maps import _core

xr = pytest.importorskip("xarray")
pytest.importorskip("dask.array")

import raster_maps.dask as rmd
import raster_maps.xarray as rmx

CATALOGUE = _core.catalogue()
OPTIONS = ["src_nodata", "exclude", "policy", "min_valid", "border", "band", "threads"]


def expected_parameters(entry, module):
    positional = ["table", "window", "labels"] + (["probes_per_cell"] if entry["takes_probes"] else [])
    random = entry["random"]
    keywords = {rm: (["seed", "threads", "return_seed"] if random else ["threads"]) + ["arithmetic", "edges"],
                rmx: (["seed"] if random else []) + OPTIONS + ["arithmetic", "edges"],
                rmd: (["seed", "return_seed"] if random else []) + ["threads", "arithmetic", "edges",
                                                                     "options"]}[module]
    return positional + keywords


@pytest.mark.parametrize("module", [rm, rmx, rmd], ids=["numpy", "xarray", "dask"])
def test_every_map_has_a_signature_and_help_from_the_catalogue(module):
    assert [n for n in module.__all__ if n in {e["name"] for e in CATALOGUE}] == \
        [e["name"] for e in CATALOGUE]
    for entry in CATALOGUE:
        function = getattr(module, entry["name"])
        parameters = inspect.signature(function).parameters
        assert list(parameters) == expected_parameters(entry, module)
        if entry["takes_probes"]:
            assert parameters["probes_per_cell"].default == 12
        assert parameters["arithmetic"].default == "exact"
        assert function.__name__ == entry["name"] and function.__module__ == module.__name__
        text = " ".join(pydoc.render_doc(function, renderer=pydoc.plaintext).split())
        assert f"{entry['title']}: {entry['summary']}." in text
        assert f"{entry['name']}(table, window, labels" in text
        for name in parameters:
            assert name in function.__doc__


def test_arguments_bind_as_the_signatures_say():
    labels = np.random.default_rng(3).integers(1, 4, (40, 40))
    table = [0.2, 0.5, 0.9]
    expected = rm.dravix(table, 9, labels, 3, seed=5)
    assert rm.dravix(table=table, window=9, labels=labels, probes_per_cell=3, seed=5).tobytes() == \
        expected.tobytes()
    assert rm.dravix(table, 9, labels, seed=5).tobytes() == rm.dravix(table, 9, labels, 12, seed=5).tobytes()
    with pytest.raises(TypeError, match=r"unknown option 'seed'; the options are threads, arithmetic"):
        rm.varnok(table, 9, labels, seed=5)
    with pytest.raises(TypeError, match=r"varnok\(\) missing a required argument: 'labels'"):
        rm.varnok(table, 9)
    with pytest.raises(TypeError, match=r"sulmet\(\) too many positional arguments"):
        rm.sulmet(table, 9, labels, 12)
    codes = xr.DataArray(labels * 10, dims=("y", "x"))
    with pytest.raises(TypeError, match=r"unknown option 'return_seed'"):
        rmx.marnisa({10: 0.2, 20: 0.5, 30: 0.9}, 9, codes, return_seed=True)
