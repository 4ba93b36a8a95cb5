// Exact window sums of per-cell integers over rectangles, without a
// summed-area table: each column is summed down from the first row of a
// block, and a window's sum is, per column, the difference of two of those
// column sums, slid along each row of windows (one column in, one out).
//
// A cell's integer v (|v| < 2^62) is held as v = high 2^32 + low, high =
// floor(v / 2^32) and low = v mod 2^32, each summed in a 64-bit word that
// wraps. A window of fewer than 2^20 cells then has |sum of highs| < 2^50
// and a sum of lows below 2^52: exact in their words whatever the column
// sums wrapped to, and exact as doubles. Two such words cost less than one
// 128-bit word: no carry joins them, and the processor's vector registers
// take several windows at once.
#pragma once

#include "summed_area.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <mutex>
#include <type_traits>
#include <vector>

namespace rw {

// Windows below this many cells, and values below 2^62 in magnitude, are
// summed exactly here.
constexpr index_t column_sums_most_cells = index_t{1} << 20;
constexpr int column_sums_value_bits = 62;

class column_sums {
public:
    // The columns of block b, from its row b.r0; strips of at most
    // strip_rows rows, each keeping `keep` rows above it.
    column_sums(cell_block b, index_t keep, index_t strip_rows) : high_(b, keep, strip_rows), low_(b, keep, strip_rows)
    {
    }

    // Makes room for rows a .. b-1 (see summed_area_strip::start).
    void start(index_t a, index_t b, worker_pool& pool)
    {
        high_.start(a, b, pool);
        low_.start(a, b, pool);
    }

    // Adds rows a .. b-1 of columns c0 .. c1-1: fill(c, r0, r1, dst) writes
    // the integers of cells (r0 .. r1-1, c) to dst, column by column in
    // order for each range of rows, as summed_area_strip::build calls it
    // (a sampled map's draws go along each row).
    template <class Fill>
    void build(index_t a, index_t b, index_t c0, index_t c1, Fill&& fill, worker_pool& pool)
    {
        if (c1 <= c0 || b <= a) return;
        // Each range of rows sums down its own part of the columns, on from
        // the row above the strip when it keeps one; later ranges then add
        // the sums above them, range by range.
        const bool above = high_.view().row0 < a;
        std::mutex lock;
        std::vector<index_t> starts;
        pool.parallel_for(b - a, [&](index_t lo, index_t hi) {
            {
                const std::lock_guard<std::mutex> hold(lock);
                starts.push_back(a + lo);
            }
            std::vector<std::int64_t> cells(static_cast<std::size_t>(hi - lo));
            for (index_t c = c0; c < c1; ++c) {
                fill(c, a + lo, a + hi, cells.data());
                std::uint64_t* high = high_.at(a + lo, c);
                std::uint64_t* low = low_.at(a + lo, c);
                std::uint64_t sum_high = lo == 0 && above ? high[-1] : 0, sum_low = lo == 0 && above ? low[-1] : 0;
                for (index_t k = 0; k < hi - lo; ++k) {
                    high[k] = sum_high += static_cast<std::uint64_t>(cells[k] >> 32);
                    low[k] = sum_low += static_cast<std::uint64_t>(cells[k]) & 0xffffffff;
                }
            }
        });
        if (starts.size() < 2) return;
        std::sort(starts.begin(), starts.end());
        starts.push_back(b);
        pool.parallel_for(c1 - c0, [&](index_t k0, index_t k1) {
            for (index_t c = c0 + k0; c < c0 + k1; ++c)
                for (std::size_t s = 1; s + 1 < starts.size(); ++s) {
                    std::uint64_t* high = high_.at(starts[s], c);
                    std::uint64_t* low = low_.at(starts[s], c);
                    const std::uint64_t carry_high = high[-1], carry_low = low[-1];
                    for (index_t k = 0; k < starts[s + 1] - starts[s]; ++k) {
                        high[k] += carry_high;
                        low[k] += carry_low;
                    }
                }
        });
    }

    // Calls write_run(i, j, high, low, n) for runs of at most window_run
    // windows (i .. i+n-1, j) of p down each column: high[k] and low[k]
    // the sums of the highs (signed, as two's complement) and of the lows
    // over window (i + k, j) of `layout`, a rectangle, whose rows and
    // columns inside the raster the strip holds, from row i - 1 on (row -1
    // of a block from the raster's edge standing for zeros). The windows of
    // a run go through the processor together.
    template <class WriteRun>
    void for_each_window_run(const scored_positions& p, const window_layout& layout, WriteRun&& write_run,
                             worker_pool& pool) const
    {
        if (p.empty()) return;
        const raster_view<const std::uint64_t> H = high_.view(), L = low_.view();
        const index_t h = layout.h, w = layout.w;
        // A clipped window's rows past the raster's last add nothing: the
        // column sum at the last row holds theirs.
        const index_t last = std::min(H.row0 + H.rows - 1, layout.clipped ? layout.M - 1 : H.row0 + H.rows - 1);
        pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
            std::uint64_t high[window_run], low[window_run];
            for (index_t i = p.i0; i < p.i_end; i += window_run) {
                const index_t n = std::min(window_run, p.i_end - i);
                const bool inside = i - 1 >= H.row0 && i + n + h - 2 <= last;
                // Adds (add true) or takes column c's share of the run.
                const auto slide = [&](index_t c, auto add) {
                    const auto move = [](std::uint64_t& sum, std::uint64_t d) {
                        if constexpr (decltype(add)::value) sum += d;
                        else sum -= d;
                    };
                    if (c < H.col0 || c >= H.col0 + H.cols) return;
                    const std::uint64_t* hc = &H(H.row0, c) - H.row0;
                    const std::uint64_t* lc = &L(L.row0, c) - L.row0;
                    if (inside) {
                        for (index_t k = 0; k < n; ++k) {
                            move(high[k], hc[i + k + h - 1] - hc[i + k - 1]);
                            move(low[k], lc[i + k + h - 1] - lc[i + k - 1]);
                        }
                        return;
                    }
                    for (index_t k = 0; k < n; ++k) {
                        const index_t top = i + k - 1, bottom = std::min(i + k + h - 1, last);
                        const bool any = top >= H.row0;
                        move(high[k], hc[bottom] - (any ? hc[top] : 0));
                        move(low[k], lc[bottom] - (any ? lc[top] : 0));
                    }
                };
                const index_t j_first = p.j0 + lo;
                std::fill(high, high + n, 0);
                std::fill(low, low + n, 0);
                for (index_t c = j_first; c < j_first + w; ++c) slide(c, std::true_type{});
                write_run(i, j_first, static_cast<const std::uint64_t*>(high), static_cast<const std::uint64_t*>(low), n);
                const auto held = [&](index_t c) { return c >= H.col0 && c < H.col0 + H.cols; };
                const auto pair_at = [&](index_t c) {
                    return column_pair{&H(i - 1, c), &L(i - 1, c)};
                };
                for (index_t j = j_first + 1; j < p.j0 + hi; ++j) {
                    if (inside && held(j - 1) && held(j + w - 1)) {
                        slide_run(high, low, pair_at(j + w - 1), pair_at(j - 1), h, n);
                    } else {
                        slide(j + w - 1, std::true_type{});
                        slide(j - 1, std::false_type{});
                    }
                    write_run(i, j, static_cast<const std::uint64_t*>(high), static_cast<const std::uint64_t*>(low), n);
                }
            }
        });
    }

    // Column sums of the highs and lows of one column from the row above a
    // run's first window on.
    struct column_pair {
        const std::uint64_t* high;
        const std::uint64_t* low;
    };

    // One step right for a run of n windows of h rows: adds column `in`'s
    // share of each window (its sums h rows apart) and takes column out's.
    static void slide_run(std::uint64_t* high, std::uint64_t* low, const column_pair& in, const column_pair& out,
                          index_t h, index_t n);

private:
    summed_area_strip<std::uint64_t> high_, low_; // column sums; build never sweeps along rows
};

} // namespace rw
