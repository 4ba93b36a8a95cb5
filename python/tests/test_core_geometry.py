"""The geometry and counting rules the compiled core answers for: the
cells a map scores, Dravix's probe reach, generator positions from per-row
draw counts, the catalogue and the wording of problems."""
import numpy as np
import pytest

from raster_maps import _core


def rect(h, w):
    return (h, w, "rectangle", 0.0, 0.0, 1.0, 1.0)


def test_scored_cells_keep_the_margins_and_ombrels_first_column():
    # Windows keep 10 cells from the top and left, 11 from the bottom and
    # right; scores land at the window's centre.
    assert _core.scored_cells("varnok", 60, 70, rect(7, 5), "margin") == (13, 46, 12, 57)
    assert _core.scored_cells("varnok", 40, 45, rect(5, 30), "margin") == (0, 0, 0, 0)
    # Ombrel scores column 10 while its window fits.
    assert _core.scored_cells("ombrel", 40, 45, rect(5, 30), "margin") == (12, 27, 25, 26)
    assert _core.scored_cells("dravix", 10, 10, rect(2**62, 3), "margin") == (0, 0, 0, 0)
    with pytest.raises(ValueError, match="unknown map 'bogus'"):
        _core.scored_cells("bogus", 60, 70, rect(7, 5), "margin")


def test_inside_scores_every_whole_window_and_circles_by_their_extent():
    for name in ("varnok", "ombrel", "dravix"):
        assert _core.scored_cells(name, 60, 70, rect(7, 6), "inside") == (3, 57, 3, 68)
        assert _core.scored_cells(name, 60, 70, rect(60, 70), "inside") == (30, 31, 35, 36)
    circle = (9, 5, "circle", 0.0, 4.0, 1.0, 2.0)
    assert _core.scored_cells("sulmet", 60, 70, circle, "inside") == (4, 56, 2, 68)


def test_probe_reach_and_thinning_start():
    assert _core.probe_reach(21, 15) == (8, 5)
    assert _core.probe_reach(1, 2**40) == (0, int(0.85 * 2**39))
    assert _core.tile_thin_start(100, 7, 30) == 100 + 2 * (7 + 30)


def test_draw_positions_run_on_from_the_start():
    at, total = _core.tile_draw_positions(np.array([3, 0, 5, 2], np.int64), 10)
    assert at.dtype == np.uint64 and at.tolist() == [10, 13, 13, 18]
    assert total == 10
    at, total = _core.tile_draw_positions(np.zeros(0, np.int64), 2**40)
    assert at.tolist() == [] and total == 0


def test_catalogue_lists_every_map_once():
    maps = {m["name"]: m for m in _core.catalogue()}
    assert list(maps) == ["varnok", "marnisa", "sulmet", "ombrel", "dravix"]
    assert [n for n, m in maps.items() if m["random"]] == ["marnisa", "dravix"]
    assert [n for n, m in maps.items() if m["takes_probes"]] == ["dravix"]
    assert maps["ombrel"]["title"] == "Ombrel" and maps["sulmet"]["summary"]


def test_problem_text_names_the_front_ends_arguments():
    table = np.array([0.5, np.nan, 1.0])
    assert _core.problem_text(("non_finite_class_value", 2, -1, -1), "ombrel", table) == (
        "table holds NaN for class 2, which Ombrel cannot compute with; give a finite value")
    assert _core.problem_text(("label_out_of_range", 7, 11, 39), "varnok", table,
                              names={"labels": "the raster"}) == (
        "label 7 at row 11, column 39 of the raster is outside 1..3, the classes of table")
    assert _core.problem_text(("bad_min_valid", 0, -1, -1), "varnok", table, min_valid=2.0) == (
        "min_valid must be a fraction 0..1 of the window; it is 2")


def test_draw_positions_of_a_grid_of_tiles_run_along_raster_rows():
    # Two tile rows of two tiles: rows 0-1 in the first, row 2 in the second.
    grid = [[np.array([1, 2], np.int64), np.array([3, 4], np.int64)],
            [np.array([5], np.int64), np.array([6], np.int64)]]
    at, total = _core.tile_draw_positions(grid, 100)
    assert [[a.tolist() for a in row] for row in at] == [[[100, 104], [101, 106]], [[110], [115]]]
    assert all(a.dtype == np.uint64 for row in at for a in row)
    assert total == 21
    # Counts of another integer dtype are read as well.
    at, total = _core.tile_draw_positions([[np.array([2, 2], np.int32)]], 0)
    assert at[0][0].tolist() == [0, 2] and total == 4
    with pytest.raises(ValueError, match="same rows"):
        _core.tile_draw_positions([[np.array([1, 2], np.int64), np.array([3], np.int64)]], 0)
