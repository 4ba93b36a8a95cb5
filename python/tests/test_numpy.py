"""raster_maps on numpy arrays: the same bits as the Octave plug-ins under
arithmetic="plugin", any array order, and errors that say what was wrong and where."""
import threading
import tracemalloc

import numpy as np
import pytest
from scipy import ndimage

import raster_maps as rm
from conftest import MAPS, class_table, patchy_labels

# (M, N, K, window): even and odd windows, one raster just big enough for
# one scored row, one where only Ombrel scores (N < w + 21), one with none.
CASES = [(61, 47, 7, (5, 7)), (90, 120, 12, (21, 21)), (40, 64, 3, (4, 9)),
         (32, 40, 5, (11, 11)), (50, 35, 4, (12, 20)), (20, 20, 3, (3, 3))]


def call(name, table, window, labels, seed=None, probes=None, **kw):
    f = getattr(rm, name)
    if name == "dravix":
        return f(table, window, labels, 12 if probes is None else probes, seed=seed, **kw)
    if name == "marnisa":
        return f(table, window, labels, seed=seed, **kw)
    return f(table, window, labels, **kw)


@pytest.fixture(scope="module")
def plugin_results(octave_plugins):
    calls, keys = [], []
    for n, (M, N, K, window) in enumerate(CASES):
        labels = patchy_labels(M, N, K, n)
        table = class_table(K, 100 + n)
        for name in MAPS:
            probes = 3 if (name == "dravix" and n % 2) else None
            calls.append((name, table, window, labels, probes))
            keys.append((n, name))
    return dict(zip(keys, zip(calls, octave_plugins(calls))))


@pytest.mark.parametrize("case", range(len(CASES)))
@pytest.mark.parametrize("name", MAPS)
def test_same_bits_as_the_plugins(plugin_results, case, name):
    (_, table, window, labels, probes), (expected, seed) = plugin_results[(case, name)]
    out = call(name, table, window, labels, seed=seed, probes=probes, arithmetic="plugin", edges="margin")
    assert out.dtype == np.float64 and out.shape == labels.shape
    assert out.tobytes() == expected.tobytes()


def test_varnok_is_the_window_mean_at_the_centre():
    labels = patchy_labels(70, 90, 6, 1)
    table = class_table(6, 2)
    h, w = 6, 9
    out = rm.varnok(table, (h, w), labels, edges="margin")
    # uniform_filter centres an even window on its lower / right middle cell.
    mean = ndimage.uniform_filter(table[labels - 1], (h, w), mode="constant")
    rows = slice(10 + h // 2, 70 - 11 - (h - 1 - h // 2))
    cols = slice(10 + w // 2, 90 - 11 - (w - 1 - w // 2))
    np.testing.assert_allclose(out[rows, cols], mean[rows, cols], rtol=0, atol=1e-12)
    scored = np.zeros(out.shape, bool)
    scored[rows, cols] = True
    assert not out[~scored].any() and scored.sum() == (70 - h - 20) * (90 - w - 20)


def test_sulmet_and_ombrel_against_class_shares():
    labels = patchy_labels(60, 55, 4, 3)
    table = np.array([0.1, 0.4, 0.3, 0.2])
    h, w = 7, 5
    shares = np.stack([ndimage.uniform_filter((labels == k).astype(float), (h, w), mode="constant")
                       for k in range(1, 5)])
    inner = (slice(10 + h // 2, 60 - 11 - h // 2), slice(10 + w // 2, 55 - 11 - w // 2))
    sulmet = 1 - 0.5 * ((shares - table[:, None, None]) ** 2).sum(0)
    ombrel = (np.sqrt(table)[:, None, None] * np.sqrt(np.clip(shares, 0, None))).sum(0)
    np.testing.assert_allclose(rm.sulmet(table, (h, w), labels)[inner], sulmet[inner], atol=1e-12)
    np.testing.assert_allclose(rm.ombrel(np.sqrt(table), (h, w), labels)[inner], ombrel[inner],
                               atol=1e-12)


@pytest.mark.parametrize("name", MAPS)
def test_every_layout_and_dtype_gives_the_same_bits(name):
    labels = patchy_labels(80, 70, 5, 4)
    table = class_table(5, 5)
    expected = call(name, table, 9, labels, seed=99)
    wide = np.zeros((160, 140), np.int32)
    wide[::2, ::2] = labels
    for variant in (np.asfortranarray(labels), wide[::2, ::2], labels.astype(np.int64),
                    labels.astype(np.uint8), labels.astype(">i4"), labels.tolist(),
                    np.asfortranarray(labels.astype(np.int16))):
        out = call(name, table, 9, variant, seed=99)
        assert out.tobytes() == expected.tobytes()
    flipped = call(name, table, 9, labels[::-1, ::-1].copy()[::-1, ::-1], seed=99)
    assert flipped.tobytes() == expected.tobytes()
    assert call(name, table, 9, labels, seed=99, threads=1).tobytes() == expected.tobytes()
    assert call(name, table, (9, 9), labels, seed=99).tobytes() == expected.tobytes()
    assert call(name, table, np.ones((9, 9)), labels, seed=99).tobytes() == expected.tobytes()


def test_int32_labels_are_not_copied():
    labels = np.asfortranarray(patchy_labels(1000, 1000, 5, 6))
    table = class_table(5, 7)
    tracemalloc.start()
    try:
        rm.sulmet(table, 21, labels)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    out_bytes = 8 * labels.size
    assert peak < out_bytes + labels.nbytes // 2


def test_the_gil_is_released_while_a_map_runs():
    labels = patchy_labels(2000, 2000, 5, 8)
    ticks = []
    done = threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(1)
            done.wait(0.001)

    t = threading.Thread(target=tick)
    t.start()
    before = len(ticks)
    try:
        rm.ombrel(class_table(5, 9), 41, labels, threads=1)
    finally:
        done.set()
        t.join()
    assert len(ticks) - before > 5


class TestSeeds:
    def test_seed_none_takes_the_clock_second_and_says_which(self):
        labels = patchy_labels(60, 60, 4, 10)
        table = class_table(4, 11)
        for name in ("marnisa", "dravix"):
            for _ in range(3):
                before = rm.clock_seed()
                out, seed = getattr(rm, name)(table, 5, labels, return_seed=True)
                if rm.clock_seed() == before:
                    break
            assert seed == before
            assert out.tobytes() == call(name, table, 5, labels, seed=seed).tobytes()

    def test_seeds_differ_and_repeat(self):
        labels = patchy_labels(60, 60, 4, 12)
        table = np.full(4, 0.5)
        for name in ("marnisa", "dravix"):
            a, b = call(name, table, 5, labels, seed=1), call(name, table, 5, labels, seed=2)
            assert not np.array_equal(a, b)
            assert np.array_equal(a, call(name, table, 5, labels, seed=1))
            assert call(name, table, 5, labels, seed=2**32 - 1).shape == labels.shape

    def test_marnisa_keeping_every_cell_is_varnok(self):
        labels = patchy_labels(50, 50, 3, 13)
        assert rm.marnisa([2.0, 3.0, 2.5], 7, labels, seed=4).tobytes() == \
            rm.varnok([2.0, 3.0, 2.5], 7, labels).tobytes()


class TestErrors:
    table = [0.5, 0.25, 0.25]

    def labels(self):
        return patchy_labels(40, 50, 3, 14)

    @pytest.mark.parametrize("name", MAPS)
    def test_a_bad_label_is_named_with_its_0_based_cell(self, name):
        labels = self.labels()
        labels[25, 30] = 7
        labels[27, 20] = 0  # first in column order
        for layout in (labels, np.asfortranarray(labels)):
            with pytest.raises(ValueError, match=r"label 0 at row 27, column 20 of labels is "
                                                 r"outside 1\.\.3"):
                call(name, self.table, 5, layout, seed=1)

    def test_labels_beyond_int32_keep_their_value_in_the_message(self):
        labels = self.labels().astype(np.int64)
        labels[12, 13] = 2**32 + 1  # would wrap to 1
        with pytest.raises(ValueError, match=r"label 4294967297 at row 12, column 13"):
            rm.varnok(self.table, 5, labels)
        labels = self.labels().astype(np.uint64)
        labels[3, 4] = 2**63
        with pytest.raises(ValueError, match=r"label 9223372036854775808 at row 3, column 4"):
            rm.sulmet(self.table, 5, labels)

    def test_labels_ombrel_never_reads_are_not_checked(self):
        labels = self.labels()
        labels[0, 0] = 99
        assert rm.ombrel(self.table, 5, labels, edges="margin").shape == labels.shape
        with pytest.raises(ValueError):
            rm.varnok(self.table, 5, labels)

    def test_arguments_of_the_wrong_kind(self):
        labels = self.labels()
        with pytest.raises(TypeError, match="integer array"):
            rm.varnok(self.table, 5, labels.astype(float))
        with pytest.raises(ValueError, match="2-D"):
            rm.varnok(self.table, 5, labels[None])
        with pytest.raises(TypeError, match="real"):
            rm.varnok(np.array(self.table, complex), 5, labels)
        with pytest.raises(ValueError, match="1-D"):
            rm.varnok([self.table], 5, labels)
        with pytest.raises(ValueError, match="empty"):
            rm.varnok(self.table, (0, 5), labels)
        with pytest.raises(ValueError, match="empty"):
            rm.varnok(self.table, np.ones((3, 0)), labels)
        with pytest.raises(TypeError, match="whole number"):
            rm.varnok(self.table, 5.0, labels)
        for window in (2**64, (5, 2**63)):
            with pytest.raises(ValueError, match=r"a side may have at most 2\*\*63 - 1"):
                rm.varnok(self.table, window, labels)
        with pytest.raises(ValueError, match="window"):
            rm.varnok(self.table, (1, 2, 3), labels)
        with pytest.raises(ValueError, match="probes_per_cell"):
            rm.dravix(self.table, 5, labels, -1)
        with pytest.raises(ValueError, match="threads"):
            rm.varnok(self.table, 5, labels, threads=0)
        with pytest.raises(ValueError, match="seed"):
            rm.marnisa(self.table, 5, labels, seed=-1)
        with pytest.raises(TypeError, match="seed"):
            rm.marnisa(self.table, 5, labels, seed=1.5)

    def test_masked_arrays_are_refused_not_unmasked(self):
        labels = np.ma.masked_equal(self.labels(), 2)
        for name in MAPS:
            with pytest.raises(TypeError, match=r"masked array.*labels\.filled.*raster_maps\.xarray"):
                call(name, self.table, 5, labels, seed=1)

    def test_empty_rasters_and_tables(self):
        assert rm.varnok(self.table, 3, np.zeros((0, 5), np.int32)).shape == (0, 5)
        with pytest.raises(ValueError, match="table is empty"):
            rm.varnok([], 3, self.labels())
        for bad in (np.nan, np.inf):
            with pytest.raises(ValueError, match="class 2 .* not finite"):
                rm.sulmet([0.5, bad, 0.5], 3, self.labels())
