#!/usr/bin/python3
"""raster_maps in Python against scipy.ndimage, and dask against in memory.

A 4000 x 4000 raster of K = 10 random labels (fixed seed), a 21 x 21 window,
each time the median of 3 runs after one warm-up, in one run so the numbers
compare:

  numpy   each map through raster_maps on the in-memory array, on 1 thread
          and on every core (RASTER_MAPS_THREADS, or all)
  scipy   uniform_filter of the reclassified raster (Varnok) and one
          uniform_filter per class indicator (Sulmet, Ombrel); one thread
  dask    each map through raster_maps.dask on 1000 x 1000 chunks, on a
          LocalCluster of 2 single-thread workers and on the threaded
          scheduler, checked bit for bit against the in-memory map

Run: /usr/bin/python3 bench/python_bench.py [size [chunk]]  (after a build;
PYTHONPATH=build/python when the .pth of scripts/setup.sh is not installed).
"""
import statistics
import sys
import time

import numpy as np
from scipy import ndimage

import raster_maps as rm

K = 10
WINDOW = 21


def time_ms(f, runs=3):
    f()
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        f()
        times.append(time.perf_counter() - t0)
    return 1000 * statistics.median(times)


def box_mean(x):
    return ndimage.uniform_filter(x, WINDOW, mode="constant")


def scipy_varnok(table, labels):
    return box_mean(table[labels - 1])


def scipy_sulmet(p, labels):
    acc = np.zeros(labels.shape)
    for k in range(1, K + 1):
        d = box_mean((labels == k).astype(np.float64)) - p[k - 1]
        acc += d * d
    return 1.0 - 0.5 * acc


def scipy_ombrel(s, labels):
    acc = np.zeros(labels.shape)
    for k in range(1, K + 1):
        q = np.clip(box_mean((labels == k).astype(np.float64)), 0, None)
        acc += s[k - 1] * np.sqrt(q)
    return acc


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 4000
    chunk = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    rng = np.random.default_rng(2026)
    labels = rng.integers(1, K + 1, size=(n, n), dtype=np.int32)
    table = 0.1 * np.arange(1, K + 1)
    p = table / table.sum()
    s = np.sqrt(p)
    tables = {"varnok": table, "marnisa": table, "sulmet": p, "ombrel": s, "dravix": table}
    kwargs = {"marnisa": {"seed": 1}, "dravix": {"seed": 1}}

    def numpy_map(name, **kw):
        return lambda: getattr(rm, name)(tables[name], WINDOW, labels, **kwargs.get(name, {}), **kw)

    print(f"{n} x {n} raster, K = {K}, {WINDOW} x {WINDOW} window; median of 3 runs, ms; "
          f"{rm._core.default_thread_count()} threads by default")
    scipy_maps = {"varnok": scipy_varnok, "sulmet": scipy_sulmet, "ombrel": scipy_ombrel}
    results = {}
    for name in ("varnok", "marnisa", "sulmet", "ombrel", "dravix"):
        one = time_ms(numpy_map(name, threads=1))
        every = time_ms(numpy_map(name))
        sp = time_ms(lambda: scipy_maps[name](tables[name], labels)) if name in scipy_maps else None
        results[name] = (one, every, sp)
        print(f"{name:<8} numpy 1 thread {one:8.1f}   all threads {every:8.1f}   "
              f"scipy {'-' if sp is None else f'{sp:8.1f}'}", flush=True)

    try:
        import dask.array as da
        from dask.distributed import Client, LocalCluster
        import raster_maps.dask as rmd
    except ImportError as e:
        print(f"dask part skipped: {e}")
        return
    chunked = da.from_array(labels, chunks=chunk)
    print(f"\ndask, {chunk} x {chunk} chunks (raster_maps on 1 thread inside each task)")
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        for name in ("varnok", "marnisa", "sulmet", "ombrel", "dravix"):
            f = getattr(rmd, name)
            expected = numpy_map(name)()
            graph = f(tables[name], WINDOW, chunked, **kwargs.get(name, {}))
            same = np.array_equal(graph.compute(), expected)
            cl = time_ms(lambda: graph.compute())
            th = time_ms(lambda: graph.compute(scheduler="threads"))
            print(f"{name:<8} LocalCluster(2) {cl:8.1f}   threads {th:8.1f}   in memory "
                  f"{results[name][1]:8.1f}   same bits: {same}", flush=True)
        del client


if __name__ == "__main__":
    main()
