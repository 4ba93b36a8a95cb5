#include "tiles.hpp"

#include "dravix.hpp"
#include "map_setup.hpp"
#include "marnisa.hpp"
#include "ombrel.hpp"
#include "sulmet.hpp"

#include "kernels/sampling.hpp"
#include "kernels/summed_area.hpp"

#include <algorithm>
#include <limits>

namespace rw::tiles {
namespace {

constexpr double not_scored = std::numeric_limits<double>::quiet_NaN();

scored_positions positions_of(const tiled_map& t)
{
    return t.q.map == map_kind::ombrel ? ombrel_positions(t.M, t.N, t.q.h, t.q.w)
                                       : scored_positions_of(t.M, t.N, t.q.h, t.q.w);
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

// Valid cells of windows: a local integer summed-area table of "not nodata"
// over a block, exact whatever the order.
class box_counter {
public:
    template <class Is>
    box_counter(cell_block b, Is&& is) : b_(b), cols_(b.c1 - b.c0 + 1)
    {
        sums_.assign(static_cast<std::size_t>((b.r1 - b.r0 + 1) * cols_), 0);
        for (index_t r = b.r0; r < b.r1; ++r)
            for (index_t c = b.c0; c < b.c1; ++c)
                at(r + 1, c + 1) = at(r, c + 1) + at(r + 1, c) - at(r, c) + (is(r, c) ? 1 : 0);
    }

    // Cells of the h x w window with top-left (i, j) that pass the test.
    index_t count(index_t i, index_t j, index_t h, index_t w) const
    {
        return at(i + h, j + w) - at(i, j + w) - at(i + h, j) + at(i, j);
    }

private:
    index_t& at(index_t r, index_t c) { return sums_[(r - b_.r0) * cols_ + (c - b_.c0)]; }
    index_t at(index_t r, index_t c) const { return sums_[(r - b_.r0) * cols_ + (c - b_.c0)]; }

    cell_block b_;
    index_t cols_;
    std::vector<index_t> sums_;
};

// What a window of v valid cells divides by, as window_valid_counts does.
struct valid_rule {
    bool active;
    index_t least;
    bool scores(index_t v) const { return v >= least; }
    double divisor(index_t v) const { return scores(v) ? static_cast<double>(v) : not_scored; }
    // The mean of window (i, j) of sum box: over its area, or its valid cells.
    double mean(double box, double area, const box_counter& valid_cells, index_t i, index_t j,
                index_t h, index_t w) const
    {
        return active ? box / divisor(valid_cells.count(i, j, h, w)) : box / area;
    }
};

// The cells of an output tile, in whole-raster coordinates.
cell_block block_of(raster_view<double> out)
{
    return {out.row0, out.row_end(), out.col0, out.col0 + out.cols};
}

valid_rule valid_rule_of(const map_request& run)
{
    return {run.nodata, least_valid_cells(run)};
}

// Called once a row: ends the call when its caller asked to stop.
void heed_stop(const tiled_map& t)
{
    if (t.interrupted && t.interrupted()) throw rw::interrupted();
}

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
    if (t.q.map != map_kind::dravix) return b;
    const cell_block s = sampling_region(t.M, t.N, t.q.h, t.q.w);
    return {std::max(b.r0, s.r0), std::min(b.r1, s.r1), std::max(b.c0, s.c0), std::min(b.c1, s.c1)};
}

void count_draws(const tiled_map& t, label_view labels, cell_block b, index_t* per_row)
{
    const map_setup s(t.q);
    const std::vector<std::int32_t> thresholds = threshold_table(s.q.table, s.q.K);
    std::fill(per_row, per_row + (b.r1 - b.r0), index_t{0});
    const cell_block d = sampled_cells(t, b);
    for (index_t r = d.r0; r < d.r1; ++r) {
        heed_stop(t);
        for (index_t c = d.c0; c < d.c1; ++c) per_row[r - b.r0] += thresholds[labels(r, c) - 1] > 0;
    }
}

void value_table(const tiled_map& t, label_view labels, cell_block b,
                 const std::uint64_t* draw_start, const double* left, const double* top,
                 raster_view<double> table, double* right)
{
    const map_setup s(t.q);
    const double* values = s.q.table;
    const bool sampled = t.q.map == map_kind::marnisa;
    const std::vector<std::int32_t> thresholds =
        sampled ? threshold_table(s.q.table, s.q.K) : std::vector<std::int32_t>{};
    // The same additions, in the same order, as summed_area_strip::build:
    // along the row from the running sum, then onto the cell above.
    for (index_t r = b.r0; r < b.r1; ++r) {
        heed_stop(t);
        crt_rand gen(t.q.seed);
        if (sampled) gen.discard(draw_start[r - b.r0]);
        double run = b.c0 > 0 ? left[r - b.r0] : 0.0;
        for (index_t c = b.c0; c < b.c1; ++c) {
            const std::int32_t l = labels(r, c);
            const double v = sampled ? sampled_value(thresholds[l - 1], values[l - 1], gen) : values[l - 1];
            run = c == 0 ? v : run + v;
            if (r == 0) table(r, c) = run;
            else table(r, c) = (r == b.r0 ? top[c - b.c0] : table(r - 1, c)) + run;
        }
        right[r - b.r0] = run;
    }
}

void score_from_table(const tiled_map& t, raster_view<const double> table, label_view labels,
                      raster_view<double> out)
{
    const map_setup s(t.q);
    const cell_block b = block_of(out);
    const scored_positions p = windows_of(t, b);
    if (p.empty()) return;
    const index_t h = t.q.h, w = t.q.w, di = centre_offset(h), dj = centre_offset(w);
    const double area = static_cast<double>(h * w);
    const valid_rule valid = valid_rule_of(s.q);
    const std::int32_t nodata = static_cast<std::int32_t>(s.q.K);
    const cell_block halo = window_cells(t, b);
    const box_counter valid_cells(valid.active ? halo : cell_block{0, 0, 0, 0},
                                  [&](index_t r, index_t c) { return labels(r, c) != nodata; });
    const bool sulmet = t.q.map == map_kind::sulmet;
    const double table_squares = table_square_sum(s.q);
    const double area_squared = area * area;
    // Square sums for a band of top rows at a time, which stays in cache
    // while its rows are scored.
    constexpr index_t band = 32;
    window_square_sums square_sums_of(s.q);
    std::vector<std::int64_t> square_sums(sulmet ? static_cast<std::size_t>(band * (p.j_end - p.j0)) : 0);

    for (index_t i = p.i0; i < p.i_end; ++i) {
        heed_stop(t);
        const index_t top = i - (i - p.i0) % band;
        if (sulmet && i == top)
            square_sums_of(labels, top, std::min(top + band, p.i_end), p.j0, p.j_end,
                           square_sums.data(), band, [] {});
        for (index_t j = p.j0; j < p.j_end; ++j) {
            const double box = box_sum(table(i + h - 1, j + w - 1), table(i - 1, j + w - 1),
                                       table(i + h - 1, j - 1), table(i - 1, j - 1));
            double& cell = out(i + di, j + dj);
            if (!sulmet) {
                cell = valid.mean(box, area, valid_cells, i, j, h, w);
                continue;
            }
            const std::int64_t squares = square_sums[(i - top) + (j - p.j0) * band];
            if (!valid.active) {
                cell = sulmet_score(squares, box, area, area_squared, table_squares);
                continue;
            }
            const index_t v = valid_cells.count(i, j, h, w), none = h * w - v;
            if (!valid.scores(v)) {
                cell = not_scored;
                continue;
            }
            cell = sulmet_score(squares - none * none, box, static_cast<double>(v),
                                static_cast<double>(v * v), table_squares);
        }
    }
}

void ombrel_scores(const tiled_map& t, label_view labels, const double* carry_in,
                   raster_view<double> out, double* carry_out)
{
    const map_setup s(t.q);
    const cell_block b = block_of(out);
    const auto [r0, r1] = window_rows(t, b);
    const scored_positions p = windows_of(t, b);
    if (p.empty()) {
        std::copy(carry_in, carry_in + (r1 - r0), carry_out);
        return;
    }
    const index_t h = t.q.h, w = t.q.w, n = h * w, di = centre_offset(h), dj = centre_offset(w);
    std::vector<double> root, step;
    ombrel_root_tables(n, root, step);
    const valid_rule valid = valid_rule_of(s.q);
    const std::int32_t nodata = static_cast<std::int32_t>(s.q.K);
    const box_counter valid_cells(valid.active ? window_cells(t, b) : cell_block{0, 0, 0, 0},
                                  [&](index_t r, index_t c) { return labels(r, c) != nodata; });
    // A row's first window starts its sweep; later tiles go on from the carry.
    const bool first = p.j0 == positions_of(t).j0;
    std::vector<index_t> count(static_cast<std::size_t>(s.q.K));
    std::vector<double> scores(static_cast<std::size_t>(p.j_end - p.j0));
    for (index_t i = p.i0; i < p.i_end; ++i) {
        heed_stop(t);
        ombrel_row_scores(labels, s.q, i, p.j0, p.j_end, root, step, count.data(),
                          first ? nullptr : &carry_in[i - r0], scores.data());
        for (index_t j = p.j0; j < p.j_end; ++j) {
            const double score = scores[j - p.j0];
            if (!valid.active) {
                out(i + di, j + dj) = score / root[n];
                continue;
            }
            const index_t v = valid_cells.count(i, j, h, w);
            out(i + di, j + dj) = valid.scores(v) ? score / root[v] : not_scored;
        }
        carry_out[i - r0] = scores.back();
    }
}

void count_points(const tiled_map& t, label_view labels, cell_block b,
                  const std::uint64_t* draw_start, index_t* points)
{
    const map_setup s(t.q);
    const std::vector<std::int32_t> thresholds = threshold_table(s.q.table, s.q.K);
    std::fill(points, points + (b.r1 - b.r0), index_t{0});
    const cell_block d = sampled_cells(t, b);
    for (index_t r = d.r0; r < d.r1; ++r) {
        heed_stop(t);
        crt_rand gen(t.q.seed);
        gen.discard(draw_start[r - b.r0]);
        for (index_t c = d.c0; c < d.c1; ++c) points[r - b.r0] += sampling_test(thresholds[labels(r, c) - 1], gen);
    }
}

point_totals totals_of(const tiled_map& t, index_t draws, index_t points)
{
    return {draws, points, points > 0 ? probe_count(t.q.probes_per_cell, t.M, t.N, points) : 0};
}

void keep_thresholds(const tiled_map& t, label_view labels, cell_block b,
                     const std::uint64_t* draw_start, const index_t* first_point,
                     const point_totals& totals, raster_view<std::int32_t> keep, index_t* thinning)
{
    const map_setup s(t.q);
    const std::vector<std::int32_t> thresholds = threshold_table(s.q.table, s.q.K);
    for (index_t r = b.r0; r < b.r1; ++r) {
        thinning[r - b.r0] = 0;
        for (index_t c = b.c0; c < b.c1; ++c) keep(r, c) = -2;
    }
    const cell_block d = sampled_cells(t, b);
    if (d.empty() || totals.points == 0) return;
    const point_probes probes(t.q, totals.draws, totals.points, totals.probes);
    std::vector<index_t> cols, pool;
    std::vector<std::int32_t> row_keep;
    const std::function<void()> poll = [&] { heed_stop(t); };
    for (index_t r = d.r0; r < d.r1; ++r) {
        heed_stop(t);
        cols.clear();
        crt_rand sampler(t.q.seed);
        sampler.discard(draw_start[r - b.r0]);
        for (index_t c = d.c0; c < d.c1; ++c)
            if (sampling_test(thresholds[labels(r, c) - 1], sampler)) cols.push_back(c);
        row_keep.resize(cols.size());
        probes.keep_thresholds(labels, r, cols.data(), static_cast<index_t>(cols.size()),
                               first_point[r - b.r0], row_keep.data(), pool, poll);
        for (std::size_t k = 0; k < cols.size(); ++k) {
            keep(r, cols[k]) = row_keep[k];
            thinning[r - b.r0] += row_keep[k] >= 0;
        }
    }
}

void thin(const tiled_map& t, raster_view<const std::int32_t> keep,
          const std::uint64_t* thin_start, raster_view<std::int32_t> points)
{
    for (index_t r = keep.row0; r < keep.row_end(); ++r) {
        heed_stop(t);
        crt_rand gen(t.q.seed);
        gen.discard(thin_start[r - keep.row0]);
        // A draw equal to the threshold keeps the point.
        for (index_t c = keep.col0; c < keep.col0 + keep.cols; ++c) {
            const std::int32_t k = keep(r, c);
            points(r, c) = k == -2 ? 0 : k == -1 ? 1 : !(k < gen());
        }
    }
}

void score_density(const tiled_map& t, raster_view<const std::int32_t> points,
                   label_view labels, raster_view<double> out)
{
    const map_setup s(t.q);
    const cell_block b = block_of(out);
    const scored_positions p = windows_of(t, b);
    if (p.empty()) return;
    const index_t h = t.q.h, w = t.q.w, di = centre_offset(h), dj = centre_offset(w);
    const double area = static_cast<double>(h * w);
    const cell_block halo = window_cells(t, b);
    const valid_rule valid = valid_rule_of(s.q);
    const std::int32_t nodata = static_cast<std::int32_t>(s.q.K);
    const box_counter point_cells(halo, [&](index_t r, index_t c) { return points(r, c) != 0; });
    const box_counter valid_cells(valid.active ? halo : cell_block{0, 0, 0, 0},
                                  [&](index_t r, index_t c) { return labels(r, c) != nodata; });
    for (index_t i = p.i0; i < p.i_end; ++i) {
        heed_stop(t);
        for (index_t j = p.j0; j < p.j_end; ++j) {
            const double box = static_cast<double>(point_cells.count(i, j, h, w));
            out(i + di, j + dj) = valid.mean(box, area, valid_cells, i, j, h, w);
        }
    }
}

} // namespace rw::tiles
