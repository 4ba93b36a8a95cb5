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
// sum fits in 32 bits. Tables of exact value sums (exact_sum.hpp) wrap the
// same way in 128 bits.
#pragma once

#include "exact_sum.hpp"
#include "footprint.hpp"
#include "raster_window.hpp"
#include "worker_pool.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace rw {

template <class T>
inline T table_add(T a, T b)
{
    if constexpr (std::is_same_v<T, std::int32_t>)
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

inline wide_sum box_sum(wide_sum bottom_right, wide_sum top_right, wide_sum bottom_left,
                        wide_sum top_left)
{
    return bottom_right - top_right - bottom_left + top_left;
}

// The table of a block of columns c0 .. c1-1 starting at row r0: a whole
// raster (c0 = r0 = 0) built strip by strip, or one tile of it. A tile's
// table goes on from carries, the values a table of the whole raster would
// hold there: the running row sums at column c0 - 1 (build's `left`) and the
// table row r0 - 1 (seed_row_above). Without them the block is summed as if
// it were a raster of its own, which gives exact box sums for integer
// tables whatever the origin.
template <class T>
class summed_area_strip {
public:
    // N columns; strips of at most strip_rows rows, each keeping `keep` rows
    // of the table above it. N = 0 makes a table that holds nothing, for a
    // map with no scored window, whose window height may be any size.
    summed_area_strip(index_t N, index_t keep, index_t strip_rows)
        : summed_area_strip(cell_block{0, 0, 0, N}, keep, strip_rows)
    {
    }

    // The columns of block b, from its row b.r0 (b.r1 is not used).
    summed_area_strip(cell_block b, index_t keep, index_t strip_rows)
        : c0_(b.c0), N_(std::max<index_t>(0, b.c1 - b.c0)), r0_(b.r0), keep_(N_ > 0 ? keep : 0),
          height_(keep_ + strip_rows), top_(b.r0), end_(b.r0),
          cells_(static_cast<std::size_t>(height_ * N_))
    {
    }

    // Makes room for rows a .. b-1, the rows directly after the last strip
    // (a = r0 for the first). The kept rows a-keep .. a-1 move to the top.
    void start(index_t a, index_t b, worker_pool& pool)
    {
        const index_t old_top = top_;
        top_ = a - keep_;
        end_ = b;
        const index_t shift = top_ - old_top;
        if (a == r0_ || shift == 0) return;
        pool.parallel_for(N_, [&](index_t c0, index_t c1) {
            for (index_t c = c0; c < c1; ++c) {
                T* col = column(c_of(c));
                std::memmove(col, col + shift, static_cast<std::size_t>(keep_) * sizeof(T));
            }
        });
    }

    // Gives the first strip (after start(r0, ..), keep >= 1) the table row
    // r0 - 1 of the whole raster: above[c - c0] for each column c.
    void seed_row_above(const T* above)
    {
        for (index_t k = 0; k < N_; ++k) column(c0_ + k)[r0_ - 1 - top_] = above[k];
        seeded_ = true;
    }

    // Cell (r, c) of the table, for r in top .. end-1 (rows of the current
    // strip and the kept ones); a column's rows are consecutive.
    T* at(index_t r, index_t c) { return column(c) + (r - top_); }

    // The rows the table holds now, in the coordinates of the raster.
    raster_view<const T> view() const
    {
        return {cells_.data(), end_ - top_, N_, 1, height_, top_, c0_};
    }

private:
    index_t c_of(index_t k) const { return c0_ + k; }
    // Column c of the buffer; row r lies at slot r - top_.
    T* column(index_t c) { return cells_.data() + height_ * (c - c0_); }
    const T* column(index_t c) const { return cells_.data() + height_ * (c - c0_); }

public:

    // Builds the table's rows a .. b-1 of the current strip, in columns
    // cols.first .. cols.second-1 (all of them when not given; a tile of a
    // wider table builds its own and hands the row sums on). fill(c, r0, r1,
    // dst) writes the values of cells (r0 .. r1-1, c) to dst[0 .. r1-r0-1];
    // it is called column by column, rows split among threads. left, when
    // given, holds the running row sums at the column left of the first of
    // rows a .. b-1; right, when given, receives those at the last column.
    template <class Fill>
    void build(index_t a, index_t b, Fill&& fill, worker_pool& pool, const T* left = nullptr,
               T* right = nullptr, std::pair<index_t, index_t> cols = {-1, -1})
    {
        const index_t cb = cols.first < 0 ? c0_ : cols.first, ce = cols.first < 0 ? c0_ + N_ : cols.second;
        if (ce <= cb) return;
        pool.parallel_for(b - a, [&](index_t lo, index_t hi) {
            const index_t r0 = a + lo, rows = hi - lo;
            std::vector<T> row_sum(static_cast<std::size_t>(rows));
            T* first = at(r0, cb);
            fill(cb, r0, r0 + rows, first);
            if (left)
                for (index_t k = 0; k < rows; ++k) first[k] = row_sum[k] = table_add(left[lo + k], first[k]);
            else
                std::copy(first, first + rows, row_sum.begin());
            for (index_t c = cb + 1; c < ce; ++c) {
                T* col = at(r0, c);
                fill(c, r0, r0 + rows, col);
                for (index_t k = 0; k < rows; ++k) col[k] = row_sum[k] = table_add(row_sum[k], col[k]);
            }
            if (right) std::copy(row_sum.begin(), row_sum.end(), right + lo);
        });
        // Down the columns; the first row has nothing above it unless seeded.
        const index_t first = std::max<index_t>(a, seeded_ ? r0_ : r0_ + 1);
        pool.parallel_for(ce - cb, [&](index_t k0, index_t k1) {
            constexpr index_t group = 4; // independent columns side by side
            index_t c = cb + k0;
            for (; c + group <= cb + k1; c += group) {
                T* col[group];
                for (index_t g = 0; g < group; ++g) col[g] = column(c + g);
                for (index_t r = first; r < b; ++r)
                    for (index_t g = 0; g < group; ++g)
                        col[g][r - top_] = table_add(col[g][r - 1 - top_], col[g][r - top_]);
            }
            for (; c < cb + k1; ++c) {
                T* col = column(c);
                for (index_t r = first; r < b; ++r)
                    col[r - top_] = table_add(col[r - 1 - top_], col[r - top_]);
            }
        });
    }

    // The box sum of the h x w window with top-left (i, j), whose rows and
    // columns the table holds, from row i - 1 and column j - 1 on (row and
    // column -1 of a table from the raster's edge stand for zeros).
    T window_sum(index_t i, index_t j, index_t h, index_t w) const
    {
        if (i - 1 < top_ || j - 1 < c0_) {
            const auto at = [&](index_t r, index_t c) { return r < top_ || c < c0_ ? T{} : column(c)[r - top_]; };
            return box_sum(at(i + h - 1, j + w - 1), at(i - 1, j + w - 1), at(i + h - 1, j - 1), at(i - 1, j - 1));
        }
        const T* left = column(j - 1);
        const T* right = column(j + w - 1);
        const index_t top = i - 1 - top_, bottom = i + h - 1 - top_;
        return box_sum(right[bottom], right[top], left[bottom], left[top]);
    }

private:
    index_t c0_, N_, r0_, keep_, height_;
    index_t top_, end_; // the strip holds rows top_ .. end_-1
    bool seeded_ = false;
    std::vector<T> cells_;
};

// The top rows of the windows of p whose bottom row lies in a .. b-1, for a
// window of h rows: [first, second), empty when none.
inline std::pair<index_t, index_t> window_rows_ending_in(const scored_positions& p, index_t a,
                                                        index_t b, index_t h)
{
    if (p.empty()) return {p.i0, p.i0};
    const index_t i0 = std::max(p.i0, a - h + 1), i1 = std::min(p.i_end, b - h + 1);
    return {i0, std::max(i0, i1)};
}

// The box sum of the h x w window with top-left (i, j) from view t, whose
// rows and columns before its first stand for zeros.
template <class T>
T edge_box_sum(raster_view<const T> t, index_t i, index_t j, index_t h, index_t w)
{
    const auto at = [&](index_t r, index_t c) { return r < t.row0 || c < t.col0 ? T{} : t(r, c); };
    return box_sum(at(i + h - 1, j + w - 1), at(i - 1, j + w - 1), at(i + h - 1, j - 1), at(i - 1, j - 1));
}

// Calls write(i, j, box sum) once for every window (i, j) of p, of h x w
// cells, from the table cells of view t, which must hold rows p.i0 - 1 ..
// p.i_end + h - 2 and the matching columns. The work is split among
// threads along the view's faster index, so each thread reads along it.
// A window on the raster's top row or left column has no table row or
// column before it; a view that starts there stands for zeros before it.
template <class T, class Write>
void for_each_window_sum(raster_view<const T> t, scored_positions p, index_t h, index_t w,
                         Write&& write, worker_pool& pool)
{
    if (p.empty()) return;
    const auto edge_sum = [&](index_t i, index_t j) { return edge_box_sum(t, i, j, h, w); };
    if (p.i0 - 1 < t.row0) {
        for (index_t j = p.j0; j < p.j_end; ++j) write(p.i0, j, edge_sum(p.i0, j));
        ++p.i0;
    }
    if (p.j0 - 1 < t.col0 && !p.empty()) {
        for (index_t i = p.i0; i < p.i_end; ++i) write(i, p.j0, edge_sum(i, p.j0));
        ++p.j0;
    }
    if (p.empty()) return;
    if (t.row_step == 1) { // column-major: columns outer
        pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
            for (index_t j = p.j0 + lo; j < p.j0 + hi; ++j) {
                const T* left = &t(p.i0 - 1, j - 1);
                const T* right = &t(p.i0 - 1, j + w - 1);
                for (index_t i = p.i0; i < p.i_end; ++i) {
                    const index_t top = i - p.i0, bottom = top + h;
                    write(i, j, box_sum(right[bottom], right[top], left[bottom], left[top]));
                }
            }
        });
        return;
    }
    pool.parallel_for(p.i_end - p.i0, [&](index_t lo, index_t hi) {
        for (index_t i = p.i0 + lo; i < p.i0 + hi; ++i)
            for (index_t j = p.j0; j < p.j_end; ++j)
                write(i, j, box_sum(t(i + h - 1, j + w - 1), t(i - 1, j + w - 1), t(i + h - 1, j - 1),
                                    t(i - 1, j - 1)));
    });
}

// The sum over the cells of a window layout (footprint.hpp) with top-left
// (i, j), from the table cells of view t (zeros before its first row and
// column, as in for_each_window_sum): one box sum per box of the layout,
// each clipped to the raster when the layout is.
template <class T>
T footprint_sum(raster_view<const T> t, index_t i, index_t j, const window_layout& layout)
{
    // A clipped window's rows and columns past the raster's last add
    // nothing: the table's last row and column hold their sums.
    const auto at = [&](index_t r, index_t c) {
        if (layout.clipped) {
            r = std::min(r, layout.M - 1);
            c = std::min(c, layout.N - 1);
        }
        return r < t.row0 || c < t.col0 ? T{} : t(r, c);
    };
    T sum{};
    for (const cell_block& b : layout.boxes) {
        const index_t top = i + b.r0 - 1, bottom = i + b.r1 - 1, left = j + b.c0 - 1, right = j + b.c1 - 1;
        sum = table_add(sum, box_sum(at(bottom, right), at(top, right), at(bottom, left), at(top, left)));
    }
    return sum;
}

// The sums over a layout's windows from the table cells of one view: for a
// window whose table cells all lie in the view and inside the raster, the
// signed reads of its boxes' corners at offsets fixed once per view; for
// the others, footprint_sum.
template <class T>
class footprint_sums {
public:
    footprint_sums(raster_view<const T> t, const window_layout& layout) : t_(t), layout_(&layout)
    {
        for (const cell_block& b : layout.boxes) {
            const auto at = [&](index_t r, index_t c) { return r * t.row_step + c * t.col_step; };
            plus_.push_back(at(b.r1 - 1, b.c1 - 1));
            plus_.push_back(at(b.r0 - 1, b.c0 - 1));
            minus_.push_back(at(b.r0 - 1, b.c1 - 1));
            minus_.push_back(at(b.r1 - 1, b.c0 - 1));
        }
    }

    T operator()(index_t i, index_t j) const
    {
        const window_layout& l = *layout_;
        const bool whole = !l.clipped || (i >= 0 && j >= 0 && i + l.h <= l.M && j + l.w <= l.N);
        if (!whole || i - 1 < t_.row0 || j - 1 < t_.col0) return footprint_sum(t_, i, j, l);
        const T* at = &t_(i, j);
        if constexpr (std::is_same_v<T, std::int32_t>) { // wrapping, as the table adds
            std::uint32_t sum = 0;
            for (const std::ptrdiff_t o : plus_) sum += static_cast<std::uint32_t>(at[o]);
            for (const std::ptrdiff_t o : minus_) sum -= static_cast<std::uint32_t>(at[o]);
            return static_cast<T>(sum);
        } else {
            T sum{};
            for (const std::ptrdiff_t o : plus_) sum += at[o];
            for (const std::ptrdiff_t o : minus_) sum -= at[o];
            return sum;
        }
    }

private:
    raster_view<const T> t_;
    const window_layout* layout_;
    std::vector<std::ptrdiff_t> plus_, minus_;
};

// for_each_window_sum over the windows of any layout: a rectangle's boxes
// are the window itself.
template <class T, class Write>
void for_each_window_sum(raster_view<const T> t, const scored_positions& p, const window_layout& layout,
                         Write&& write, worker_pool& pool)
{
    if (layout.rectangle) {
        for_each_window_sum(t, p, layout.h, layout.w, write, pool);
        return;
    }
    if (p.empty()) return;
    const footprint_sums<T> sum_at(t, layout);
    pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
        for (index_t j = p.j0 + lo; j < p.j0 + hi; ++j)
            for (index_t i = p.i0; i < p.i_end; ++i) write(i, j, sum_at(i, j));
    });
}

// The windows for_each_window_sum_run hands on at once: enough for work on
// one to overlap with the next, few enough to stay in the first-level cache.
constexpr index_t window_run = 128;

// Calls write_run(i, j, sums, n) for runs of at most window_run windows (i ..
// i+n-1, j) of p down each column, sums[k] the sum over window (i + k, j)
// of the layout, from the table cells of view t as in for_each_window_sum:
// for scores whose work on one window need not wait for the last.
template <class T, class WriteRun>
void for_each_window_sum_run(raster_view<const T> t, const scored_positions& p, const window_layout& layout,
                             WriteRun&& write_run, worker_pool& pool)
{
    if (p.empty()) return;
    std::optional<footprint_sums<T>> shaped;
    if (!layout.rectangle) shaped.emplace(t, layout);
    const index_t h = layout.h, w = layout.w, step = t.row_step;
    pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
        T sums[window_run];
        for (index_t j = p.j0 + lo; j < p.j0 + hi; ++j)
            for (index_t i = p.i0; i < p.i_end; i += window_run) {
                const index_t n = std::min(window_run, p.i_end - i);
                if (shaped) {
                    for (index_t k = 0; k < n; ++k) sums[k] = (*shaped)(i + k, j);
                } else if (i - 1 < t.row0 || j - 1 < t.col0) {
                    for (index_t k = 0; k < n; ++k) sums[k] = edge_box_sum(t, i + k, j, h, w);
                } else {
                    const T* left = &t(i - 1, j - 1);
                    const T* right = &t(i - 1, j + w - 1);
                    for (index_t k = 0; k < n; ++k)
                        sums[k] = box_sum(right[(k + h) * step], right[k * step], left[(k + h) * step], left[k * step]);
                }
                write_run(i, j, static_cast<const T*>(sums), n);
            }
    });
}

} // namespace rw
