#include "tiles.hpp"

#include "catalogue.hpp"
#include "dravix.hpp"
#include "map_setup.hpp"
#include "ombrel.hpp"
#include "value_table.hpp"

#include "kernels/sampling.hpp"
#include "kernels/summed_area.hpp"

#include <algorithm>

namespace rw::tiles {
namespace {

scored_positions positions_of(const tiled_map& t)
{
    return entry_of(t.q.map).positions(t.M, t.N, t.q.h, t.q.w);
}

// Top rows of the windows centred in rows b.r0 .. b.r1-1: [first, second).
std::pair<index_t, index_t> window_rows(const tiled_map& t, cell_block b)
{
    const scored_positions p = positions_of(t);
    if (p.empty()) return {0, 0};
    const index_t di = centre_offset(t.q.h);
    const index_t i0 = std::max(p.i0, b.r0 - di), i1 = std::min(p.i_end, b.r1 - di);
    return {i0, std::max(i0, i1)};
}

// The cells of an output tile, in whole-raster coordinates.
cell_block block_of(raster_view<double> out)
{
    return {out.row0, out.row_end(), out.col0, out.col0 + out.cols};
}

// The valid counts of the windows of a tile, from the labels of its halo.
window_valid_counts valid_counts_of(const map_request& run, label_view labels, cell_block halo,
                                    worker_pool& one)
{
    window_valid_counts valid = valid_counts_over(run, halo, halo.r1 - halo.r0);
    valid.build(labels, halo.r0, halo.r1, one);
    return valid;
}

// Per row of tile b, into per_row[r - b.r0], what count(thresholds, d,
// per_row of d's first row, pool) counts over the tile's sampled cells d;
// 0 for rows without any.
template <class Count>
void count_sampled_rows(const tiled_map& t, cell_block b, index_t* per_row, Count&& count);

} // namespace

scored_positions windows_of(const tiled_map& t, cell_block b)
{
    const scored_positions p = positions_of(t);
    const auto [i0, i1] = window_rows(t, b);
    const index_t dj = centre_offset(t.q.w);
    const index_t j0 = std::max(p.j0, b.c0 - dj), j1 = std::min(p.j_end, b.c1 - dj);
    if (p.empty() || i1 <= i0 || j1 <= j0) return {i0, i0, j0, j0};
    return {i0, i1, j0, j1};
}

cell_block window_cells(const tiled_map& t, cell_block b)
{
    const scored_positions p = windows_of(t, b);
    if (p.empty()) return {0, 0, 0, 0};
    return {p.i0 - 1, p.i_end + t.q.h - 1, p.j0 - 1, p.j_end + t.q.w - 1};
}

cell_block sampled_cells(const tiled_map& t, cell_block b)
{
    const cell_block s = entry_of(t.q.map).sampled_block(t.M, t.N, t.q.h, t.q.w);
    return {std::max(b.r0, s.r0), std::min(b.r1, s.r1), std::max(b.c0, s.c0), std::min(b.c1, s.c1)};
}

namespace {

template <class Count>
void count_sampled_rows(const tiled_map& t, cell_block b, index_t* per_row, Count&& count)
{
    std::fill(per_row, per_row + (b.r1 - b.r0), index_t{0});
    const cell_block d = sampled_cells(t, b);
    if (d.empty()) return;
    const map_setup s(t.q);
    const std::vector<std::int32_t> thresholds = threshold_table(s.q.table, s.q.K);
    worker_pool one(1, t.interrupted);
    count(thresholds.data(), d, per_row + (d.r0 - b.r0), one);
}

} // namespace

void count_draws(const tiled_map& t, label_view labels, cell_block b, index_t* per_row)
{
    count_sampled_rows(t, b, per_row, [&](const std::int32_t* thresholds, cell_block d, index_t* n, worker_pool& one) {
        rw::count_draws(labels, thresholds, d, n, one);
    });
}

void value_table(const tiled_map& t, label_view labels, cell_block b,
                 const std::uint64_t* draw_start, const double* left, const double* top,
                 raster_view<double> table, double* right)
{
    const map_setup s(t.q);
    const value_rules& rules = *entry_of(t.q.map).values;
    cell_values values(s.q, rules.sampled);
    const index_t rows = b.r1 - b.r0;
    if (rules.sampled) values.place_rows(b.r0, draw_start, rows);
    worker_pool one(1, t.interrupted);
    summed_area_strip<double> sums(b, b.r0 > 0 ? 1 : 0, rows);
    sums.start(b.r0, b.r1, one);
    if (b.r0 > 0) sums.seed_row_above(top);
    sums.build(b.r0, b.r1, [&](index_t c, index_t r0, index_t r1, double* dst) {
        values(labels, c, r0, r1, dst);
    }, one, b.c0 > 0 ? left : nullptr, right);
    const raster_view<const double> built = sums.view();
    for (index_t r = b.r0; r < b.r1; ++r)
        for (index_t c = b.c0; c < b.c1; ++c) table(r, c) = built(r, c);
}

void score_from_table(const tiled_map& t, raster_view<const double> table, label_view labels,
                      raster_view<double> out)
{
    const scored_positions p = windows_of(t, block_of(out));
    if (p.empty()) return;
    const map_setup s(t.q);
    worker_pool one(1, t.interrupted);
    const window_valid_counts valid = valid_counts_of(s.q, labels, window_cells(t, block_of(out)), one);
    entry_of(t.q.map).values->make_scorer(s.q)->score(labels, table, valid, p, out, one);
}

void ombrel_scores(const tiled_map& t, label_view labels, const double* carry_in,
                   raster_view<double> out, double* carry_out)
{
    const cell_block b = block_of(out);
    const auto [r0, r1] = window_rows(t, b);
    const scored_positions p = windows_of(t, b);
    if (p.empty()) {
        std::copy(carry_in, carry_in + (r1 - r0), carry_out);
        return;
    }
    const map_setup s(t.q);
    worker_pool one(1, t.interrupted);
    const window_valid_counts valid = valid_counts_of(s.q, labels, window_cells(t, b), one);
    // A row's first window starts its sweep; later tiles go on from the carry.
    const bool first = p.j0 == positions_of(t).j0;
    ombrel_windows(s.q).score(labels, valid, p, first ? nullptr : carry_in + (p.i0 - r0),
                              carry_out + (p.i0 - r0), out, one);
}

void count_points(const tiled_map& t, label_view labels, cell_block b,
                  const std::uint64_t* draw_start, index_t* points)
{
    count_sampled_rows(t, b, points, [&](const std::int32_t* thresholds, cell_block d, index_t* n, worker_pool& one) {
        rw::count_points(labels, thresholds, t.q.seed, d, draw_start + (d.r0 - b.r0), n, one);
    });
}

point_totals totals_of(const tiled_map& t, index_t draws, index_t points)
{
    return {draws, points, points > 0 ? probe_count(t.q.probes_per_cell, t.M, t.N, points) : 0};
}

std::uint64_t thinning_start(const point_totals& totals)
{
    return rw::thinning_start(static_cast<std::uint64_t>(totals.draws),
                              static_cast<std::uint64_t>(totals.points),
                              static_cast<std::uint64_t>(totals.probes));
}

void keep_thresholds(const tiled_map& t, label_view labels, cell_block b,
                     const std::uint64_t* draw_start, const index_t* first_point,
                     const point_totals& totals, raster_view<std::int32_t> keep, index_t* thinning)
{
    for (index_t r = b.r0; r < b.r1; ++r) {
        thinning[r - b.r0] = 0;
        for (index_t c = b.c0; c < b.c1; ++c) keep(r, c) = -2;
    }
    const cell_block d = sampled_cells(t, b);
    if (d.empty() || totals.points == 0) return;
    const map_setup s(t.q);
    const std::vector<std::int32_t> thresholds = threshold_table(s.q.table, s.q.K);
    const point_probes probes(t.q, totals.draws, totals.points, totals.probes);
    const index_t n = d.r1 - d.r0, at = d.r0 - b.r0;
    std::vector<std::uint64_t> firsts(first_point + at, first_point + at + n);
    std::vector<point_row> rows(static_cast<std::size_t>(n));
    worker_pool one(1, t.interrupted);
    probe_rows(labels, thresholds.data(), t.q.seed, d, draw_start + at, firsts.data(), probes, rows.data(), one);
    for (index_t k = 0; k < n; ++k) {
        const point_row& points = rows[k];
        for (std::size_t m = 0; m < points.cols.size(); ++m) keep(d.r0 + k, points.cols[m]) = points.keep[m];
        thinning[at + k] = thinning_draws(points);
    }
}

void thin(const tiled_map& t, raster_view<const std::int32_t> keep,
          const std::uint64_t* thin_start, raster_view<std::int32_t> points)
{
    for (index_t r = keep.row0; r < keep.row_end(); ++r) {
        if (t.interrupted && t.interrupted()) throw interrupted();
        crt_rand gen(t.q.seed);
        gen.discard(thin_start[r - keep.row0]);
        for (index_t c = keep.col0; c < keep.col0 + keep.cols; ++c) {
            const std::int32_t k = keep(r, c);
            points(r, c) = k != -2 && survives(k, gen);
        }
    }
}

void score_density(const tiled_map& t, raster_view<const std::int32_t> points,
                   label_view labels, raster_view<double> out)
{
    const cell_block b = block_of(out);
    const scored_positions p = windows_of(t, b);
    if (p.empty()) return;
    const map_setup s(t.q);
    const cell_block halo = window_cells(t, b);
    worker_pool one(1, t.interrupted);
    summed_area_strip<std::int32_t> density(halo, 0, halo.r1 - halo.r0);
    density.start(halo.r0, halo.r1, one);
    density.build(halo.r0, halo.r1, [&](index_t c, index_t r0, index_t r1, std::int32_t* dst) {
        for_each_down(points, c, r0, r1, [&](index_t k, std::int32_t v) { dst[k] = v; });
    }, one);
    const window_valid_counts valid = valid_counts_of(s.q, labels, halo, one);
    write_means(density.view(), valid, p, t.q.h, t.q.w, out, one);
}

} // namespace rw::tiles
