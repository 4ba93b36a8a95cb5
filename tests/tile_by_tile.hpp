// A whole map tile by tile as a task scheduler (dask) runs it: the counting
// passes of every tile, their prefix sums, then the tiles row-major, each
// taking its carries from the tiles left of and above it and handed views of
// only the cells it may read, through the tile functions that stand alone.
#pragma once

#include "maps/catalogue.hpp"
#include "maps/dravix.hpp"
#include "maps/tiles.hpp"

#include "kernels/sampling.hpp"

#include <algorithm>
#include <vector>

namespace rw::tiles {
namespace task_model {

struct grid {
    const std::vector<index_t>& rows;
    const std::vector<index_t>& cols;

    index_t R() const { return static_cast<index_t>(rows.size()) - 1; }
    index_t C() const { return static_cast<index_t>(cols.size()) - 1; }
    cell_block tile(index_t a, index_t b) const { return {rows[a], rows[a + 1], cols[b], cols[b + 1]}; }
};

template <class T>
inline raster_view<T> part(raster_view<T> v, cell_block b)
{
    return {&v(b.r0, b.c0), b.r1 - b.r0, b.c1 - b.c0, v.row_step, v.col_step, b.r0, b.c0};
}

// Per tile and row, the count in all tiles before it in row-major order:
// the prefix sums that turn per-tile counts into generator positions.
inline std::vector<std::vector<std::uint64_t>> positions(const grid& g,
                                                  const std::vector<std::vector<index_t>>& counts,
                                                  std::uint64_t start, index_t& total)
{
    // The counts in the order the draws come (raster rows, then the tiles
    // along each), run through draw_positions, and handed back per tile.
    std::vector<index_t> in_order;
    for (index_t a = 0; a < g.R(); ++a)
        for (index_t r = 0; r < g.rows[a + 1] - g.rows[a]; ++r)
            for (index_t b = 0; b < g.C(); ++b) in_order.push_back(counts[a * g.C() + b][r]);
    std::vector<std::uint64_t> flat(in_order.size());
    total = static_cast<index_t>(
        draw_positions(in_order.data(), static_cast<index_t>(in_order.size()), start, flat.data()));
    std::vector<std::vector<std::uint64_t>> at(counts.size());
    std::size_t k = 0;
    for (index_t a = 0; a < g.R(); ++a) {
        const index_t rows = g.rows[a + 1] - g.rows[a];
        for (index_t b = 0; b < g.C(); ++b) at[a * g.C() + b].resize(static_cast<std::size_t>(rows));
        for (index_t r = 0; r < rows; ++r)
            for (index_t b = 0; b < g.C(); ++b) at[a * g.C() + b][r] = flat[k++];
    }
    return at;
}

inline std::vector<std::vector<index_t>> per_tile(const grid& g, const auto& f)
{
    std::vector<std::vector<index_t>> out(static_cast<std::size_t>(g.R() * g.C()));
    for (index_t a = 0; a < g.R(); ++a)
        for (index_t b = 0; b < g.C(); ++b) {
            const cell_block t = g.tile(a, b);
            out[a * g.C() + b].resize(static_cast<std::size_t>(t.r1 - t.r0));
            f(a, b, t, out[a * g.C() + b].data());
        }
    return out;
}

inline void run_tile_by_tile(const map_request& q, label_view labels, raster_view<double> out,
               const std::vector<index_t>& row_cuts, const std::vector<index_t>& col_cuts)
{
    if (auto problem = validate(q, labels)) throw invalid_request(*problem);
    const tiled_map t{q, labels.rows, labels.cols};
    const grid g{row_cuts, col_cuts};
    const index_t M = t.M, N = t.N;
    if (M == 0 || N == 0) return;

    std::vector<std::vector<std::uint64_t>> draw_at;
    index_t draws = 0;
    const map_entry& entry = entry_of(q.map);
    if (entry.random) {
        const auto counts = per_tile(g, [&](index_t, index_t, cell_block b, index_t* n) {
            count_draws(t, part(labels, b), b, n);
        });
        draw_at = positions(g, counts, 0, draws);
    }

    if (entry.engine == map_engine::running_score) {
        for (index_t a = 0; a < g.R(); ++a) {
            std::vector<double> carry(static_cast<std::size_t>(row_cuts[a + 1] - row_cuts[a]));
            std::vector<double> next(carry.size());
            for (index_t b = 0; b < g.C(); ++b) {
                const cell_block tb = g.tile(a, b);
                const cell_block halo = window_cells(t, tb);
                ombrel_scores(t, halo.empty() ? labels : part(labels, halo), carry.data(),
                              part(out, tb), next.data());
                std::swap(carry, next);
            }
        }
        return;
    }

    if (entry.engine == map_engine::thinned_points) {
        std::vector<std::vector<index_t>> firsts;
        index_t points = 0;
        const auto counts = per_tile(g, [&](index_t a, index_t b, cell_block tb, index_t* n) {
            count_points(t, part(labels, tb), tb, draw_at[a * g.C() + b].data(), n);
        });
        const auto first = positions(g, counts, 0, points);
        const point_totals totals = totals_of(t, draws, points);
        std::vector<std::int32_t> keep(static_cast<std::size_t>(M * N)), alive(keep.size());
        const auto keep_view = row_major(keep.data(), M, N);
        const auto alive_view = row_major(alive.data(), M, N);
        const index_t ri = probe_reach(q.h), rj = probe_reach(q.w);
        const auto thinning = per_tile(g, [&](index_t a, index_t b, cell_block tb, index_t* n) {
            const cell_block reach{std::max<index_t>(0, tb.r0 - ri), std::min(M, tb.r1 + ri),
                                   std::max<index_t>(0, tb.c0 - rj), std::min(N, tb.c1 + rj)};
            std::vector<index_t> ordinals(first[a * g.C() + b].begin(), first[a * g.C() + b].end());
            keep_thresholds(t, part(labels, reach), tb, draw_at[a * g.C() + b].data(),
                            ordinals.data(), totals, part(keep_view, tb), n);
        });
        index_t thinned = 0;
        const std::uint64_t thin_from = thinning_start(totals);
        const auto thin_at = positions(g, thinning, thin_from, thinned);
        for (index_t a = 0; a < g.R(); ++a)
            for (index_t b = 0; b < g.C(); ++b) {
                const cell_block tb = g.tile(a, b);
                thin(t, part(raster_view<const std::int32_t>(keep_view), tb),
                     thin_at[a * g.C() + b].data(), part(alive_view, tb));
            }
        for (index_t a = 0; a < g.R(); ++a)
            for (index_t b = 0; b < g.C(); ++b) {
                const cell_block tb = g.tile(a, b), halo = window_cells(t, tb);
                if (halo.empty()) continue;
                score_density(t, part(raster_view<const std::int32_t>(alive_view), halo),
                              part(labels, halo), part(out, tb));
            }
        return;
    }

    // Varnok, Marnisa, Sulmet: the value table tile by tile, carrying the
    // row sums rightward and the table's last row downward.
    std::vector<double> table(static_cast<std::size_t>(M * N));
    const auto table_view = row_major(table.data(), M, N);
    for (index_t a = 0; a < g.R(); ++a) {
        std::vector<double> left(static_cast<std::size_t>(row_cuts[a + 1] - row_cuts[a])), right(left.size());
        for (index_t b = 0; b < g.C(); ++b) {
            const cell_block tb = g.tile(a, b);
            std::vector<double> top(static_cast<std::size_t>(tb.c1 - tb.c0));
            if (tb.r0 > 0)
                for (index_t c = tb.c0; c < tb.c1; ++c) top[c - tb.c0] = table_view(tb.r0 - 1, c);
            value_table(t, part(labels, tb), tb, draw_at.empty() ? nullptr : draw_at[a * g.C() + b].data(),
                        left.data(), top.data(), part(table_view, tb), right.data());
            std::swap(left, right);
        }
    }
    for (index_t a = 0; a < g.R(); ++a)
        for (index_t b = 0; b < g.C(); ++b) {
            const cell_block tb = g.tile(a, b), halo = window_cells(t, tb);
            if (halo.empty()) continue;
            score_from_table(t, part(raster_view<const double>(table_view), halo), part(labels, halo),
                             part(out, tb));
        }
}

} // namespace task_model
} // namespace rw::tiles
