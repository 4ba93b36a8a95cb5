// Exact window sums of class values over rectangles, slid along each row of
// windows without a summed-area table, from the class of each cell: the
// labels themselves, or, for a map that keeps cells at random, a strip of
// the kept cells' classes (0 for a cell that adds nothing). A window's sum
// is the sum, over its columns, of each column's share: the class values
// of its h cells there, itself slid down the column one cell in, one out.
// Only the classes pass through memory.
//
// A class value v (|v| < 2^62, an integer) is held as v = high 2^32 + low,
// high = floor(v / 2^32) and low = v mod 2^32, each summed in a 64-bit word
// that wraps. A window of fewer than 2^20 cells then has |sum of highs| <
// 2^50 and a sum of lows below 2^52: exact in their words, and exact as
// doubles. No carry joins the two words, so the processor's vector
// registers take several windows at once.
#pragma once

#include "summed_area.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rw {

// Windows below this many cells, and class values below 2^62 in magnitude,
// are summed exactly here.
constexpr index_t sliding_sums_most_cells = index_t{1} << 20;
constexpr int sliding_sums_value_bits = 62;

class sliding_value_sums {
public:
    // class_values[k]: the integer of class k + 1, k < K. The strip of
    // kept cells' classes (when used): the columns of block b, from its row
    // b.r0, in strips of at most strip_rows rows, each keeping `keep` rows
    // above it.
    sliding_value_sums(const std::int64_t* class_values, index_t K, cell_block b = {}, index_t keep = 0,
                       index_t strip_rows = 0)
        : classes_(b, keep, strip_rows), high_of_(static_cast<std::size_t>(K + 1)), low_of_(high_of_.size())
    {
        for (index_t k = 0; k < K; ++k) {
            high_of_[k + 1] = static_cast<std::uint64_t>(class_values[k] >> 32);
            low_of_[k + 1] = static_cast<std::uint64_t>(class_values[k]) & 0xffffffff;
        }
    }

    // Makes room for rows a .. b-1 (see summed_area_strip::start).
    void start(index_t a, index_t b, worker_pool& pool) { classes_.start(a, b, pool); }

    // Sets the classes of rows a .. b-1 of columns c0 .. c1-1: fill(c, r0,
    // r1, dst) writes those of cells (r0 .. r1-1, c) to dst (0 .. K),
    // column by column in order for each range of rows, as
    // summed_area_strip::build calls it (a sampled map's draws go along
    // each row).
    template <class Fill>
    void build(index_t a, index_t b, index_t c0, index_t c1, Fill&& fill, worker_pool& pool)
    {
        if (c1 <= c0 || b <= a) return;
        pool.parallel_for(b - a, [&](index_t lo, index_t hi) {
            for (index_t c = c0; c < c1; ++c) fill(c, a + lo, a + hi, classes_.at(a + lo, c));
        });
    }

    // The classes the strip holds now, in the raster's coordinates.
    raster_view<const std::int32_t> kept_classes() const { return classes_.view(); }

    // Calls write_run(i, j, high, low, n) for runs of at most window_run
    // windows (i .. i+n-1, j) of p down each column: high[k] and low[k] the
    // sums of the highs (signed, as two's complement) and of the lows over
    // window (i + k, j) of `layout`, a rectangle, whose rows and columns
    // inside the raster `classes` holds (classes 0 .. K: labels, or
    // kept_classes()). The windows of a run go through the processor
    // together.
    template <class WriteRun>
    void for_each_window_run(raster_view<const std::int32_t> classes, const scored_positions& p,
                             const window_layout& layout, WriteRun&& write_run, worker_pool& pool) const
    {
        if (p.empty()) return;
        const index_t w = layout.w;
        // The shares of the last w columns, column c in slot c mod w, when
        // that is small enough to stay in the processor's caches; else a
        // column's share is counted again as it leaves.
        const bool ring = w <= 256;
        pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
            std::vector<std::uint64_t> shares(static_cast<std::size_t>(2 * window_run * (ring ? w : 2)));
            const auto slot = [&](index_t c, index_t other) {
                const index_t s = ring ? ((c % w) + w) % w : other;
                return shares.data() + 2 * window_run * s;
            };
            std::uint64_t high[window_run], low[window_run], in[2 * window_run];
            for (index_t i = p.i0; i < p.i_end; i += window_run) {
                const index_t n = std::min(window_run, p.i_end - i);
                const index_t j_first = p.j0 + lo;
                std::fill(high, high + n, 0);
                std::fill(low, low + n, 0);
                for (index_t c = j_first; c < j_first + w; ++c) {
                    std::uint64_t* share = slot(c, 0);
                    column_share(classes, layout, c, i, n, share);
                    for (index_t k = 0; k < n; ++k) {
                        high[k] += share[k];
                        low[k] += share[window_run + k];
                    }
                }
                write_run(i, j_first, static_cast<const std::uint64_t*>(high), static_cast<const std::uint64_t*>(low), n);
                for (index_t j = j_first + 1; j < p.j0 + hi; ++j) {
                    std::uint64_t* out = slot(j - 1, 1);
                    if (!ring) column_share(classes, layout, j - 1, i, n, out);
                    column_share(classes, layout, j + w - 1, i, n, in);
                    step(high, low, in, out, n);
                    write_run(i, j, static_cast<const std::uint64_t*>(high), static_cast<const std::uint64_t*>(low), n);
                }
            }
        });
    }

private:
    // The shares of column c in windows i .. i+n-1 of layout: the highs'
    // at share[k], the lows' at share[window_run + k]. Cells outside the
    // strip's columns or past a clipped layout's last row add nothing, as
    // do the rows above a block's first (zeros above the raster's edge).
    void column_share(raster_view<const std::int32_t> C, const window_layout& layout, index_t c, index_t i, index_t n,
                      std::uint64_t* share) const
    {
        std::uint64_t* high = share;
        std::uint64_t* low = share + window_run;
        if (c < C.col0 || c >= C.col0 + C.cols) {
            std::fill(high, high + n, 0);
            std::fill(low, low + n, 0);
            return;
        }
        const index_t h = layout.h;
        const index_t end = layout.clipped ? std::min(C.row0 + C.rows, layout.M) : C.row0 + C.rows;
        const std::int32_t* top = &C(C.row0, c);
        const std::ptrdiff_t step = C.row_step;
        const std::uint64_t* high_of = high_of_.data();
        const std::uint64_t* low_of = low_of_.data();
        const auto slide = [&](auto&& class_at) {
            std::uint64_t sum_high = 0, sum_low = 0;
            for (index_t r = i; r < i + h; ++r) {
                const std::int32_t k = class_at(r);
                sum_high += high_of[k];
                sum_low += low_of[k];
            }
            high[0] = sum_high;
            low[0] = sum_low;
            for (index_t k = 1; k < n; ++k) {
                const std::int32_t enters = class_at(i + k + h - 1), leaves = class_at(i + k - 1);
                sum_high += high_of[enters] - high_of[leaves];
                sum_low += low_of[enters] - low_of[leaves];
                high[k] = sum_high;
                low[k] = sum_low;
            }
        };
        if (i < C.row0 || i + n + h - 1 > end)
            slide([&](index_t r) { return r >= C.row0 && r < end ? top[(r - C.row0) * step] : 0; });
        else if (step == 1)
            slide([&](index_t r) { return top[r - C.row0]; });
        else
            slide([&](index_t r) { return top[(r - C.row0) * step]; });
    }

    // high[k] and low[k] gain `in`'s shares and lose `out`'s, which then
    // become in's (shares as column_share lays them out), k < n.
    static void step(std::uint64_t* high, std::uint64_t* low, const std::uint64_t* in, std::uint64_t* out, index_t n);

    summed_area_strip<std::int32_t> classes_; // holds the classes only: never summed
    std::vector<std::uint64_t> high_of_, low_of_; // class 0 adds nothing
};

} // namespace rw
