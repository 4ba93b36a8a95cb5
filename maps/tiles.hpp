// The maps over a raster cut into 2-D tiles (rows r0 .. r1-1 by columns
// c0 .. c1-1), each tile computed on its own from small carries of its
// neighbours, with the same bits as run_map for every tiling. A tile never
// needs the whole raster: only its own cells, a halo of at most a window's
// size around them, and carries of one value per row or column.
//
// What has to be carried, and why:
// - The value summed-area table (Varnok, Marnisa, Sulmet) adds in a fixed
//   order, along each row and then down each column, so its doubles depend
//   on every cell above and to the left. A tile takes the running row sum of
//   the cell left of each of its rows (carried rightward) and the table row
//   above it (carried downward), and hands on its own.
// - Ombrel carries its score along each row of windows: a tile takes the
//   score of the window left of its first one, per row, and hands on its
//   last (a fresh count gives the histogram; only the score must travel).
// - The random maps draw in row-major order from one generator. A first
//   pass counts the draws of each tile row; their prefix sums in row-major
//   order give every tile row its generator position, reached by jump-ahead.
//   Dravix repeats that for its points (ordinals, hence probe pool entries)
//   and for its thinning draws.
// Integer quantities (class counts, square sums, point counts, valid
// counts) are exact in any order and are counted afresh from the halo.
//
// Views here carry their cells' coordinates in the whole M x N raster
// (row0, col0), so a tile or a halo is read and written in those.
#pragma once

#include "maps/raster_maps.hpp"

#include <cstdint>
#include <functional>
#include <vector>

namespace rw::tiles {

// A map run tile by tile; the request is the caller's (nodata as in run_map).
// interrupted, when set, is asked between rows of every pass over a tile
// and between runs of Dravix's probes, on the thread computing the tile;
// answering true ends the call with rw::interrupted. A tile of a huge probe
// count can take hours, and a scheduler cannot stop a task that is running.
struct tiled_map {
    map_request q;
    index_t M, N;
    std::function<bool()> interrupted = nullptr;
};

// The windows scored in the output tile of centre cells b: their top-left
// corners, in scored_positions form (empty when none).
scored_positions windows_of(const tiled_map& t, cell_block b);

// The cells a tile's windows read: their union, for the output tile b
// (empty when no window is scored there). Ombrel's include the column left
// of its first window, through which a carried score slides in.
cell_block window_cells(const tiled_map& t, cell_block b);

// The cells of tile b that take a sampling draw in pass order (Marnisa:
// every cell; Dravix: its sampling region), and per_row[r - b.r0] their
// number in row r. For the value pass and Dravix's point pass.
cell_block sampled_cells(const tiled_map& t, cell_block b);
void count_draws(const tiled_map& t, label_view labels, cell_block b, index_t* per_row);

// --- Varnok, Marnisa, Sulmet: the value summed-area table ------------------

// Builds the table's cells of tile b (the view `table` covers exactly b)
// from the labels of b. left[r - b.r0]: the running row sum at column
// b.c0 - 1 (unused when b.c0 = 0); top[c - b.c0]: the table at row b.r0 - 1
// (unused when b.r0 = 0); right receives the running row sums at column
// b.c1 - 1. Marnisa: draw_start[r - b.r0] is the generator position of row
// r's first draw in b.
void value_table(const tiled_map& t, label_view labels, cell_block b,
                 const std::uint64_t* draw_start, const double* left, const double* top,
                 raster_view<double> table, double* right);

// Scores the windows of output tile out (a view with its cells'
// coordinates) from the table and labels over window_cells.
void score_from_table(const tiled_map& t, raster_view<const double> table, label_view labels,
                      raster_view<double> out);

// --- Ombrel ------------------------------------------------------------------

// Scores output tile out from the labels over window_cells. carry_in[g]:
// the score of the window left of the first one, for the g-th scored row
// of the tile (unused when the first is the row's first); carry_out[g]
// receives the last one's, or carry_in[g] when the tile has no window.
void ombrel_scores(const tiled_map& t, label_view labels, const double* carry_in,
                   raster_view<double> out, double* carry_out);

// --- Dravix --------------------------------------------------------------------

// Given each row's first draw in the tile, points[r - b.r0]: the points
// the row's cells of b get.
void count_points(const tiled_map& t, label_view labels, cell_block b,
                  const std::uint64_t* draw_start, index_t* points);

// Where the draws after the sampling pass start, from its totals.
struct point_totals {
    index_t draws = 0, points = 0, probes = 0; // probes: P per point
};
point_totals totals_of(const tiled_map& t, index_t draws, index_t points);

// The generator position of the first thinning draw.
std::uint64_t thinning_start(const point_totals& totals);

// Keep thresholds of the points of tile b: keep (a view over b) gets -2 for
// no point, -1 for a point none of whose probes found its class (it keeps
// without a draw), else the threshold. labels cover b and the probe reach
// around it. first_point[r - b.r0]: the ordinal of row r's first point in b.
// thinning[r - b.r0] receives the row's thinning draws in b.
void keep_thresholds(const tiled_map& t, label_view labels, cell_block b,
                     const std::uint64_t* draw_start, const index_t* first_point,
                     const point_totals& totals, raster_view<std::int32_t> keep, index_t* thinning);

// Surviving points of a tile (points: 1 or 0, over the same cells as keep),
// thin_start[r] being row r's first thinning draw as a generator position.
void thin(const tiled_map& t, raster_view<const std::int32_t> keep,
          const std::uint64_t* thin_start, raster_view<std::int32_t> points);

// Densities of output tile out from the points and labels over window_cells.
void score_density(const tiled_map& t, raster_view<const std::int32_t> points,
                   label_view labels, raster_view<double> out);

// --- A whole map, tile by tile -------------------------------------------------

// Runs the map over the tiles cut at rows row_cuts and columns col_cuts
// (increasing, 0 first, M or N last), one tile after another in the order a
// parallel scheduler could use, each seeing only its halo and carries. The
// same bits as run_map; for tests and as the model of other schedulers.
void run_tiled(const map_request& q, label_view labels, raster_view<double> out,
               const std::vector<index_t>& row_cuts, const std::vector<index_t>& col_cuts);

} // namespace rw::tiles
