#!/usr/bin/env python3
"""OpenCV equivalents of three plug-in maps, timed on the same kind of raster.

A 4000 x 4000 raster of K = 10 random labels (fixed seed), windows 3, 21 and
101, each time the median of 5 runs after one warm-up:

  Varnok  window mean of table[labels]: one box filter
  Sulmet  1 - 0.5 * sum_k (q_k - p_k)^2: one box filter per class indicator
  Ombrel  sum_k t_k * sqrt(q_k): one box filter per class indicator

q_k is the share of class k in the window. The box filters use a zero border,
so only interior cells match the plug-ins; the edges are not compared. This
gives a reference from a widely used, tuned library for the plug-ins' times.

Needs numpy and cv2 (Debian: apt-get install python3-opencv). OpenCV uses
RASTER_MAPS_THREADS threads when that is set, like the plug-ins.
Run: python3 bench/opencv_bench.py [size]
"""
import os
import statistics
import sys
import time

import cv2
import numpy as np

K = 10
WINDOWS = (3, 21, 101)


def box_mean(x, w):
    return cv2.boxFilter(x, cv2.CV_64F, (w, w), normalize=True,
                         borderType=cv2.BORDER_CONSTANT)


def varnok(table, labels, w):
    return box_mean(table[labels - 1], w)


def class_shares(labels, k, w):
    return box_mean((labels == k).astype(np.float64), w)


def sulmet(p, labels, w):
    acc = np.zeros(labels.shape)
    for k in range(1, K + 1):
        d = class_shares(labels, k, w)
        d -= p[k - 1]
        d *= d
        acc += d
    acc *= -0.5
    acc += 1.0
    return acc


def ombrel(s, labels, w):
    acc = np.zeros(labels.shape)
    for k in range(1, K + 1):
        q = class_shares(labels, k, w)
        np.sqrt(q, out=q)
        q *= s[k - 1]
        acc += q
    return acc


def time_ms(f):
    """Median of 5 timed calls after one untimed warm-up, in milliseconds."""
    f()
    times = []
    for _ in range(5):
        t0 = time.perf_counter()
        f()
        times.append(time.perf_counter() - t0)
    return 1000 * statistics.median(times)


def check_varnok(table, labels, w, rng):
    """Window means at a few interior cells against numpy, within 1e-9."""
    out = varnok(table, labels, w)
    r = w // 2
    M, N = labels.shape
    worst = 0.0
    for i, j in zip(rng.integers(r, M - r, 8), rng.integers(r, N - r, 8)):
        direct = table[labels[i - r:i + r + 1, j - r:j + r + 1] - 1].mean()
        worst = max(worst, abs(out[i, j] - direct))
    if worst > 1e-9:
        sys.exit(f"Varnok check failed for window {w}: off by {worst:.3g}")
    return worst


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 4000
    threads = os.environ.get("RASTER_MAPS_THREADS")
    if threads:
        cv2.setNumThreads(int(threads))
    print(f"OpenCV {cv2.__version__}, numpy {np.__version__}, "
          f"{cv2.getNumThreads()} OpenCV threads "
          f"(RASTER_MAPS_THREADS = {threads or '(unset)'})")

    rng = np.random.default_rng(2026)  # fixed seed: the same raster every run
    labels = rng.integers(1, K + 1, size=(n, n), dtype=np.int32)
    table = 0.1 * np.arange(1, K + 1)
    p = table / table.sum()  # Sulmet: a target mix, summing to 1
    s = np.sqrt(p)           # Ombrel: sqrt(p) gives the Bhattacharyya coefficient

    worst = max(check_varnok(table, labels, w, rng) for w in WINDOWS)
    print(f"Varnok check: box filter agrees with numpy window means at 8 interior "
          f"cells per window to {worst:.1e} (limit 1e-9)")

    print(f"\n{n} x {n} raster, K = {K} (median of 5 runs, ms)")
    print(f"{'map':<8} {'window':>6} {'ms':>10}")
    for name, f, t in (("Varnok", varnok, table), ("Sulmet", sulmet, p),
                       ("Ombrel", ombrel, s)):
        for w in WINDOWS:
            ms = time_ms(lambda: f(t, labels, w))
            print(f"{name:<8} {w:>6} {ms:>10.1f}")


if __name__ == "__main__":
    main()
