// The maps over a raster cut into 2-D tiles (rows r0 .. r1-1 by columns
// c0 .. c1-1), each tile computed from its own cells, a halo of at most a
// window around them, and small carries of its neighbours. Every run goes
// through these functions: a whole raster in memory or streamed is a column
// of strips, tiles as wide as the raster (tile_run.hpp); dask computes any
// tiling, one task per tile. So each map's run is written once, and every
// tiling gives the same bits.
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
// counts) are exact in any order.
//
// Views here carry their cells' coordinates in the whole M x N raster
// (row0, col0), so a tile or a halo is read and written in those. Each
// function takes the pool its tile's work is split over; without one it
// runs on the calling thread.
#pragma once

#include "maps/raster_maps.hpp"

#include "kernels/summed_area.hpp"
#include "kernels/valid_cells.hpp"

#include <cstdint>
#include <functional>
#include <memory>

namespace rw {
class point_probes;
class exact_value_table;
struct point_row;
}

namespace rw::tiles {

struct prepared_rules;

// A map run tile by tile: the caller's request (nodata as in run_map), the
// raster's size, and what the map's rules build once per run (the table
// with nodata as a class, sampling thresholds, scorers). interrupted, when
// set, is asked between rows of every pass over a tile run without a pool
// and between runs of Dravix's probes; answering true ends the call with
// rw::interrupted. A tile of a huge probe count can take hours, and a
// scheduler cannot stop a task that is running.
class tiled_map {
public:
    tiled_map() = default;
    tiled_map(const map_request& q, index_t M, index_t N, std::function<bool()> interrupted = nullptr);

    map_request q;
    index_t M = 0, N = 0;
    std::function<bool()> interrupted;

    // The request the rules run: with nodata, class K + 1 of value 0.
    const map_request& run() const;
    // The map's own objects, shared by copies of this map and used by one
    // tile at a time.
    prepared_rules& rules() const { return *rules_; }

private:
    std::shared_ptr<prepared_rules> rules_;
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
void count_draws(const tiled_map& t, label_view labels, cell_block b, index_t* per_row,
                 worker_pool* pool = nullptr);

// The valid counts of the windows whose cells lie in halo, from its labels.
window_valid_counts valid_counts_of(const tiled_map& t, label_view labels, cell_block halo,
                                    worker_pool* pool = nullptr);

// --- Varnok, Marnisa, Sulmet: the value summed-area table ------------------

// Builds the table's cells of tile b into `table`, which holds the table
// row above b (or b.r0 = 0) and has rows b.r0 .. b.r1-1 started. left[r -
// b.r0]: the running row sum at column b.c0 - 1 (unused when b.c0 = 0);
// right receives those at column b.c1 - 1. Marnisa: draw_start[r - b.r0] is
// the generator position of row r's first draw in b.
void value_table(const tiled_map& t, label_view labels, cell_block b,
                 const std::uint64_t* draw_start, const double* left,
                 summed_area_strip<double>& table, double* right, worker_pool& pool);

// The same into a view covering exactly b, the table row above coming in
// top[c - b.c0] (unused when b.r0 = 0): a tile on its own.
void value_table(const tiled_map& t, label_view labels, cell_block b,
                 const std::uint64_t* draw_start, const double* left, const double* top,
                 raster_view<double> table, double* right);

// Under exact arithmetic (Varnok, Marnisa, Sulmet) the windows are scored from
// exact integer sums (exact_value_table) instead of the double table. The
// standalone value_table above then writes each cell's value (a kept
// value, or 0) where the table would go, and sets its carries to 0: the
// integer sums need none, and score_from_table sums those values over its
// halo itself.
bool sums_exactly(const tiled_map& t);

// An exact table for the run, over the columns of block b from its row
// b.r0, keeping `keep` rows above each strip of at most strip_rows rows.
exact_value_table exact_table_of(const tiled_map& t, cell_block b, index_t keep, index_t strip_rows);

// Adds tile b's cell values to `table`, which has rows b.r0 .. b.r1-1
// started; left and right as in exact_value_table::build.
void exact_values(const tiled_map& t, label_view labels, cell_block b, const std::uint64_t* draw_start,
                  const wide_sum* left, exact_value_table& table, wide_sum* right, worker_pool& pool);

// Scores the windows of output tile out from the exact table (and the
// labels over window_cells, as score_from_table).
void score_exact(const tiled_map& t, const exact_value_table& table, label_view labels,
                 const window_valid_counts& valid, raster_view<double> out, worker_pool& pool);

// The label rows above a window's bottom row that scoring it reads.
index_t label_rows_above(const tiled_map& t);

// Scores the windows of output tile out (a view with its cells'
// coordinates) from the table, labels and valid counts over window_cells;
// without valid counts they are counted from the labels.
void score_from_table(const tiled_map& t, raster_view<const double> table, label_view labels,
                      const window_valid_counts& valid, raster_view<double> out, worker_pool& pool);
void score_from_table(const tiled_map& t, raster_view<const double> table, label_view labels,
                      raster_view<double> out);

// --- Ombrel ------------------------------------------------------------------

// Scores output tile out from the labels (and valid counts) over
// window_cells. carry_in[g]: the score of the window left of the first one,
// for the g-th scored row of the tile (unused when the first is the row's
// first); carry_out[g] receives the last one's, or carry_in[g] when the
// tile has no window.
void ombrel_scores(const tiled_map& t, label_view labels, const window_valid_counts& valid,
                   const double* carry_in, raster_view<double> out, double* carry_out,
                   worker_pool& pool);
void ombrel_scores(const tiled_map& t, label_view labels, const double* carry_in,
                   raster_view<double> out, double* carry_out);

// --- Dravix --------------------------------------------------------------------

// Given each row's first draw in the tile, points[r - b.r0]: the points
// the row's cells of b get.
void count_points(const tiled_map& t, label_view labels, cell_block b,
                  const std::uint64_t* draw_start, index_t* points, worker_pool* pool = nullptr);

// Where the draws after the sampling pass start, from its totals.
struct point_totals {
    index_t draws = 0, points = 0, probes = 0; // probes: P per point
};
point_totals totals_of(const tiled_map& t, index_t draws, index_t points);

// The generator position of the first thinning draw.
std::uint64_t thinning_start(const point_totals& totals);

// The points of tile b, row by row: rows[r - b.r0] receives row r's
// points (their columns and keep thresholds: -1 for a point none of whose
// probes found its class, which keeps without a draw). labels cover b and
// the probe reach around it. first_point[r - b.r0]: the ordinal of row r's
// first point in b. probes: the points' probing (none when there is no
// point: every row is left empty).
void probe_points(const tiled_map& t, label_view labels, cell_block b, const std::uint64_t* draw_start,
                  const index_t* first_point, const point_probes* probes, point_row* rows,
                  worker_pool& pool);

// Marks the surviving points of rows (as probe_points gave them for rows
// r0 ..) with 1 in points (0 elsewhere, on entry), row r's first thinning
// draw being thin_start[r - r0].
void thin_points(const tiled_map& t, const point_row* rows, index_t r0, index_t r1,
                 const std::uint64_t* thin_start, raster_view<std::int32_t> points, worker_pool& pool);

// The same for a tile on its own, its points as a raster: keep (a view over
// b) gets -2 for no point, else the point's keep threshold; thinning[r -
// b.r0] receives row r's thinning draws in b.
void keep_thresholds(const tiled_map& t, label_view labels, cell_block b,
                     const std::uint64_t* draw_start, const index_t* first_point,
                     const point_totals& totals, raster_view<std::int32_t> keep, index_t* thinning);

// Surviving points of a tile on its own (points: 1 or 0, over the same
// cells as keep), thin_start[r] being row r's first thinning draw.
void thin(const tiled_map& t, raster_view<const std::int32_t> keep,
          const std::uint64_t* thin_start, raster_view<std::int32_t> points);

// Densities of output tile out from the summed-area table of the points
// (or the points themselves) and the valid counts or labels over
// window_cells.
void score_density(const tiled_map& t, raster_view<const std::int32_t> point_table,
                   const window_valid_counts& valid, raster_view<double> out, worker_pool& pool);
void score_density(const tiled_map& t, raster_view<const std::int32_t> points,
                   label_view labels, raster_view<double> out);

} // namespace rw::tiles
