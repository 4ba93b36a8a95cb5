"""raster_maps.dask: the in-memory bits for every chunking and scheduler."""
import functools

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("dask.distributed")

import raster_maps as rm
import raster_maps.dask as rmd
from conftest import MAPS, class_table, patchy_labels, call_map


def random_chunks(size, rng, smallest):
    cuts = []
    while sum(cuts) < size:
        cuts.append(int(min(size - sum(cuts), rng.integers(smallest, 25))))
    return tuple(cuts)


def chunkings(M, N, seed):
    """Whole, one row and one column at a time, and random cuts."""
    rng = np.random.default_rng(seed)
    yield (M, N)
    yield ((1,) * M, (N,))
    yield ((M,), (1,) * N)
    for _ in range(3):
        yield (random_chunks(M, rng, 1), random_chunks(N, rng, 1))


call = functools.partial(call_map, default_seed=11)


@pytest.mark.parametrize("name", MAPS)
def test_every_chunking_gives_the_in_memory_bits(name):
    for n, (M, N, K, window) in enumerate([(61, 47, 7, (5, 7)), (48, 52, 4, (21, 3))]):
        labels = patchy_labels(M, N, K, 20 + n)
        table = class_table(K, 30 + n)
        expected = call(rm, name, table, window, labels)
        for chunks in chunkings(M, N, n):
            out = call(rmd, name, table, window, da.from_array(labels, chunks=chunks))
            assert out.chunks == da.from_array(labels, chunks=chunks).chunks
            assert out.compute(scheduler="threads").tobytes() == expected.tobytes(), chunks


def test_the_distributed_scheduler_gives_the_same_bits():
    labels = patchy_labels(70, 66, 5, 40)
    table = class_table(5, 41)
    chunked = da.from_array(labels.astype(np.int16), chunks=(17, 9))
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        for name in MAPS:
            out = client.compute(call(rmd, name, table, 9, chunked)).result()
            assert out.tobytes() == call(rm, name, table, 9, labels).tobytes()


def test_a_seed_is_taken_once_for_the_whole_graph():
    labels = patchy_labels(40, 40, 3, 42)
    out, seed = rmd.marnisa([0.5, 0.7, 0.2], 5, da.from_array(labels, chunks=7), return_seed=True)
    assert out.compute().tobytes() == rm.marnisa([0.5, 0.7, 0.2], 5, labels, seed=seed).tobytes()


def test_a_bad_label_fails_the_computation_with_its_cell():
    labels = patchy_labels(40, 45, 3, 43)
    labels[22, 31] = 9
    out = rmd.sulmet([0.2, 0.3, 0.5], 5, da.from_array(labels, chunks=(10, 10)))
    with pytest.raises(ValueError, match=r"label 9 at row 22, column 31"):
        out.compute(scheduler="sync")
    with pytest.raises(TypeError):
        rmd.varnok([0.2], 5, da.zeros((30, 30), chunks=10))


def test_dask_backed_data_arrays_keep_codes_nodata_and_coordinates():
    xr = pytest.importorskip("xarray")
    pytest.importorskip("rioxarray")
    import raster_maps.xarray as rmx
    labels = patchy_labels(60, 64, 3, 44)
    codes = np.array([10, 20, 30], np.uint8)[labels - 1]
    codes[20:24, 30:33] = 0
    arr = xr.DataArray(codes, dims=("y", "x"), coords={"y": np.arange(60.0), "x": np.arange(64.0)})
    arr = arr.rio.write_crs("EPSG:3035").rio.write_nodata(0)
    table = {10: 0.2, 20: 0.5, 30: 0.3}
    for name in MAPS:
        for policy in ("strict", "renormalise"):
            expected = call(rmx, name, table, 7, arr, policy=policy)
            chunked = arr.chunk({"y": 13, "x": 22})
            out = call(rmd, name, table, 7, chunked, policy=policy)
            assert out.values.tobytes() == expected.values.tobytes()
            assert out.rio.crs == arr.rio.crs
            # raster_maps.xarray stays lazy on dask-backed data, with the same bits.
            lazy = call(rmx, name, table, 7, chunked, policy=policy)
            assert isinstance(lazy.data, da.Array)
            assert lazy.values.tobytes() == expected.values.tobytes()
            assert lazy.attrs == expected.attrs
    codes[45, 50] = 77
    with pytest.raises(ValueError, match=r"code 77 at row 45, column 50"):
        rmd.varnok(table, 7, arr.copy(data=codes).chunk(20)).compute()


def test_arrays_the_maps_cannot_read_are_refused_when_the_graph_is_built():
    labels = da.from_array(patchy_labels(40, 45, 3, 45), chunks=(10, 15))
    table = [0.2, 0.3, 0.5]
    unknown = labels[labels[:, 0] > 0]  # boolean indexing: chunk sizes unknown
    with pytest.raises(ValueError, match=r"unknown size.*compute_chunk_sizes\(\)"):
        rmd.varnok(table, 5, unknown)
    xr = pytest.importorskip("xarray")
    with pytest.raises(ValueError, match=r"unknown size.*compute_chunk_sizes\(\)"):
        rmd.varnok({1: 0.2, 2: 0.3, 3: 0.5}, 5, xr.DataArray(unknown, dims=("y", "x")))
    with pytest.raises(TypeError, match="masked array"):
        rmd.varnok(table, 5, da.ma.masked_equal(labels, 2))
    with pytest.raises(TypeError, match="masked array"):
        rmd.varnok(table, 5, da.from_array(np.ma.masked_equal(labels.compute(), 2), chunks=10))
    with pytest.raises(ValueError, match=r"a side may have at most 2\*\*63 - 1"):
        rmd.varnok(table, 2**64, labels)
    # As in memory, threads= is checked; each task runs on one thread.
    assert rmd.varnok(table, 5, labels, threads=10**12).compute().tobytes() == \
        rm.varnok(table, 5, labels.compute()).tobytes()
    with pytest.raises(TypeError, match="threads"):
        rmd.varnok(table, 5, labels, threads="all")


def test_a_job_and_a_whole_graph_travel_by_pickle():
    import pickle

    import dask
    from dask.base import tokenize
    from raster_maps import _core

    table = np.array([0.2, 0.7, 0.4])
    job = _core.TileJob("dravix", table, (21, 15, "rectangle", 0.0, 0.0, 1.0, 1.0), 300, 200, 12, 7, True,
                        "renormalise", 0.75, "plugin", "margin")
    back = pickle.loads(pickle.dumps(job))
    for name, value in dict(map="dravix", h=21, w=15, M=300, N=200, probes_per_cell=12, seed=7,
                            nodata=True, policy="renormalise", min_valid=0.75,
                            arithmetic="plugin").items():
        assert getattr(back, name) == getattr(job, name) == value, name
    assert back.table.tolist() == [0.2, 0.7, 0.4] and tokenize(back) == tokenize(job)
    # The job holds its own table: the caller's array may change afterwards.
    table[0] = 9.0
    assert job.table[0] == 0.2 and not job.table.flags.writeable
    with pytest.raises(AttributeError):
        job.seed = 8
    with pytest.raises(ValueError, match="policy"):
        _core.TileJob("varnok", table, (3, 3, "rectangle", 0.0, 0.0, 1.0, 1.0), 30, 30, 12, 0, False, "lenient", 0.5)
    with pytest.raises(ValueError, match="arithmetic"):
        _core.TileJob("varnok", table, (3, 3, "rectangle", 0.0, 0.0, 1.0, 1.0), 30, 30, 12, 0, False, "strict", 0.5,
                      "fast")

    # What a process pool or dask.distributed ships: every task pickled.
    labels = patchy_labels(53, 47, 4, 46)
    table = class_table(4, 47)
    chunked = da.from_array(labels, chunks=(11, 13))
    for name in MAPS:
        out = call(rmd, name, table, (7, 5), chunked)
        graph = pickle.loads(pickle.dumps(dict(out.__dask_graph__())))
        blocks = dask.threaded.get(graph, out.__dask_keys__())
        assert np.block([list(row) for row in blocks]).tobytes() == call(rm, name, table, (7, 5), labels).tobytes(), name


def test_the_dask_front_end_needs_no_xarray():
    import subprocess
    import sys
    child = ("import sys, numpy as np, dask.array as da, raster_maps.dask as rmd\n"
             "labels = da.from_array(np.ones((40, 40), np.int32), chunks=15)\n"
             "out = rmd.dravix([1.0], 5, labels, seed=1).compute()\n"
             "print(out.sum() > 0, 'raster_maps.xarray' in sys.modules, 'xarray' in sys.modules)\n")
    said = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=120,
                          check=True)
    assert said.stdout.split() == ["True", "False", "False"]


def test_a_table_of_codes_is_checked_once_by_the_core():
    xr = pytest.importorskip("xarray")
    codes = xr.DataArray(np.array([10, 20], np.int16)[patchy_labels(30, 30, 2, 48) - 1],
                         dims=("y", "x")).chunk(12)
    with pytest.raises(ValueError, match="table gives code 10 twice"):
        rmd.varnok([(10, 0.2), (20, 0.5), (10, 0.3)], 5, codes)
    with pytest.raises(ValueError, match="no class left"):
        rmd.varnok({10: 0.2, 20: 0.5}, 5, codes, exclude=[10, 20])
