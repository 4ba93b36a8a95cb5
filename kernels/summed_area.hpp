// The summed-area table of a raster of per-cell values, built strip by strip
// of rows, and the window box sums read from it.
//
// The table is defined by two sweeps: along each row, x(r, c) = x(r, c - 1) +
// x(r, c); then down each column, x(r, c) = x(r - 1, c) + x(r, c). Every cell
// gets exactly those additions in that order, whatever the strip height or
// the number of threads, so the table is the same bit for bit. A strip keeps
// the last `keep` rows of the table above it, which is all that the box sums
// of its windows read; memory is (keep + strip rows) x N values for any M.
//
// Integer tables (Dravix's point counts) add in uint32 so that they wrap
// instead of overflowing; a box sum is still exact while the window's own
// sum fits in 32 bits.
#pragma once

#include "raster_window.hpp"
#include "worker_pool.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace rw {

template <class T>
inline T table_add(T a, T b)
{
    if constexpr (std::is_integral_v<T>)
        return static_cast<T>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
    else
        return a + b;
}

// Sum over the window with top-left (i, j) from its four corners: bottom
// right, less top right, less bottom left, plus top left, in that order,
// which fixes the rounding. Needs i >= 1 and j >= 1.
inline double box_sum(double bottom_right, double top_right, double bottom_left, double top_left)
{
    return bottom_right - top_right - bottom_left + top_left;
}

inline std::int32_t box_sum(std::int32_t bottom_right, std::int32_t top_right,
                            std::int32_t bottom_left, std::int32_t top_left)
{
    const auto u = [](std::int32_t x) { return static_cast<std::uint32_t>(x); };
    return static_cast<std::int32_t>(u(bottom_right) - u(top_right) - u(bottom_left) + u(top_left));
}

template <class T>
class summed_area_strip {
public:
    // N columns; strips of at most strip_rows rows, each keeping `keep` rows
    // of the table above it. N = 0 makes a table that holds nothing, for a
    // map with no scored window, whose window height may be any size.
    summed_area_strip(index_t N, index_t keep, index_t strip_rows)
        : N_(N), keep_(N > 0 ? keep : 0), height_(keep_ + strip_rows),
          cells_(static_cast<std::size_t>(height_ * N))
    {
    }

    // Makes room for rows a .. b-1, the rows directly after the last strip
    // (a = 0 for the first). The kept rows a-keep .. a-1 move to the top.
    void start(index_t a, index_t b, worker_pool& pool)
    {
        const index_t old_top = top_;
        top_ = a - keep_;
        end_ = b;
        const index_t shift = top_ - old_top;
        if (a == 0 || shift == 0) return;
        pool.parallel_for(N_, [&](index_t c0, index_t c1) {
            for (index_t c = c0; c < c1; ++c) {
                T* col = cells_.data() + height_ * c;
                std::memmove(col, col + shift, static_cast<std::size_t>(keep_) * sizeof(T));
            }
        });
    }

    // Cell (r, c) of the table, for r in top .. end-1 (rows of the current
    // strip and the kept ones); a column's rows are consecutive.
    T* at(index_t r, index_t c) { return column(c) + (r - top_); }

private:
    // Column c of the buffer; row r lies at slot r - top_.
    T* column(index_t c) { return cells_.data() + height_ * c; }
    const T* column(index_t c) const { return cells_.data() + height_ * c; }

public:

    // Builds the table's rows a .. b-1 of the current strip. fill(c, r0, r1,
    // dst) writes the values of cells (r0 .. r1-1, c) to dst[0 .. r1-r0-1];
    // it is called column by column, rows split among threads.
    template <class Fill>
    void build(index_t a, index_t b, Fill&& fill, worker_pool& pool)
    {
        pool.parallel_for(b - a, [&](index_t lo, index_t hi) {
            const index_t r0 = a + lo, rows = hi - lo;
            std::vector<T> row_sum(static_cast<std::size_t>(rows));
            for (index_t c = 0; c < N_; ++c) {
                T* col = at(r0, c);
                fill(c, r0, r0 + rows, col);
                if (c == 0) {
                    std::copy(col, col + rows, row_sum.begin());
                    continue;
                }
                for (index_t k = 0; k < rows; ++k) col[k] = row_sum[k] = table_add(row_sum[k], col[k]);
            }
        });
        // Down the columns; row 0 of the raster has nothing above it.
        const index_t first = std::max<index_t>(a, 1);
        pool.parallel_for(N_, [&](index_t c0, index_t c1) {
            constexpr index_t group = 4; // independent columns side by side
            index_t c = c0;
            for (; c + group <= c1; c += group) {
                T* col[group];
                for (index_t g = 0; g < group; ++g) col[g] = column(c + g);
                for (index_t r = first; r < b; ++r)
                    for (index_t g = 0; g < group; ++g)
                        col[g][r - top_] = table_add(col[g][r - 1 - top_], col[g][r - top_]);
            }
            for (; c < c1; ++c) {
                T* col = column(c);
                for (index_t r = first; r < b; ++r)
                    col[r - top_] = table_add(col[r - 1 - top_], col[r - top_]);
            }
        });
    }

    // The box sum of the h x w window with top-left (i, j), i >= 1 and
    // j >= 1, whose rows the table holds (bottom row in the current strip).
    T window_sum(index_t i, index_t j, index_t h, index_t w) const
    {
        const T* left = column(j - 1);
        const T* right = column(j + w - 1);
        const index_t top = i - 1 - top_, bottom = i + h - 1 - top_;
        return box_sum(right[bottom], right[top], left[bottom], left[top]);
    }

    // For every scored window (i, j) of p whose bottom row lies in a .. b-1,
    // calls write(i, j, box sum) once, columns split among threads. The
    // table must hold rows a - h .. b-1 (keep >= h).
    template <class Write>
    void window_sums(index_t a, index_t b, const scored_positions& p, index_t h, index_t w,
                     Write&& write, worker_pool& pool) const
    {
        const index_t i0 = std::max(p.i0, a - h + 1), i1 = std::min(p.i_end, b - h + 1);
        if (p.empty() || i1 <= i0) return;
        pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
            for (index_t j = p.j0 + lo; j < p.j0 + hi; ++j) {
                const T* left = column(j - 1);
                const T* right = column(j + w - 1);
                for (index_t i = i0; i < i1; ++i) {
                    const index_t top = i - 1 - top_, bottom = i + h - 1 - top_;
                    write(i, j, box_sum(right[bottom], right[top], left[bottom], left[top]));
                }
            }
        });
    }

private:
    index_t N_, keep_, height_;
    index_t top_ = 0, end_ = 0; // the strip holds rows top_ .. end_-1
    std::vector<T> cells_;
};

} // namespace rw

namespace rw {

// For every scored window of p whose bottom row lies in a .. b-1, writes its
// window mean, the box sum over h * w, at its centre cell of out.
template <class T>
void write_window_means(const summed_area_strip<T>& table, index_t a, index_t b,
                        const scored_positions& p, index_t h, index_t w, raster_view<double> out,
                        worker_pool& pool)
{
    const double area = static_cast<double>(h * w);
    const index_t di = centre_offset(h), dj = centre_offset(w);
    table.window_sums(a, b, p, h, w, [&](index_t i, index_t j, T box) {
        out(i + di, j + dj) = static_cast<double>(box) / area;
    }, pool);
}

} // namespace rw
