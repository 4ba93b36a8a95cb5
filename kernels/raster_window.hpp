// Raster-window frame shared by every map: raster views, the window geometry
// with its margin, and the cell blocks a map reads.
//
// Rows and columns are 0-based. A view says where each cell lies, so one
// kernel serves Octave's column-major arrays (rows run fastest) and GeoTIFF
// or numpy row-major ones (columns run fastest) without copies: cell (r, c)
// is the same cell in both, and every map gives the same bits for it. Sizes
// and indices are 64-bit, so rasters past 2^31 cells work.
#pragma once

#include <algorithm>
#include <cstdint>

namespace rw {

using index_t = std::int64_t;

// A rows x cols raster, or a band of rows of a larger one. Cell (r, c), in
// the coordinates of the whole raster, lies at
//   data[(r - row0) * row_step + (c - col0) * col_step],
// so a band of rows r0 .. r1-1 keeps its cells' own row numbers.
template <class T>
struct raster_view {
    T* data = nullptr;
    index_t rows = 0, cols = 0;
    index_t row_step = 1, col_step = 0; // elements from (r, c) to (r + 1, c), and to (r, c + 1)
    index_t row0 = 0, col0 = 0;         // where the view's first cell lies in the whole raster

    T& operator()(index_t r, index_t c) const
    {
        return data[(r - row0) * row_step + (c - col0) * col_step];
    }
    index_t row_end() const { return row0 + rows; }

    // Rows r0 .. r1-1 of this view, in the same coordinates.
    raster_view band(index_t r0, index_t r1) const
    {
        return {data + (r0 - row0) * row_step, r1 - r0, cols, row_step, col_step, r0, col0};
    }

    operator raster_view<const T>() const { return {data, rows, cols, row_step, col_step, row0, col0}; }
};

template <class T>
raster_view<T> column_major(T* data, index_t M, index_t N)
{
    return {data, M, N, 1, M, 0, 0};
}

template <class T>
raster_view<T> row_major(T* data, index_t M, index_t N)
{
    return {data, M, N, N, 1, 0, 0};
}

using label_view = raster_view<const std::int32_t>;
using output_view = raster_view<double>;

// Rows and columns on the top and left that no scored window touches; on the
// bottom and right the untouched band is one wider (11 cells).
inline constexpr index_t window_margin = 10;

// Top-left corners (i, j) of the scored windows: i0 <= i < i_end and
// j0 <= j < j_end, rows outer. Empty when the raster is too small for the
// window plus its margins. Sizes are compared without forming M - h, so
// windows of any size are safe.
struct scored_positions {
    index_t i0, i_end, j0, j_end;

    bool empty() const { return i_end <= i0 || j_end <= j0; }
};

inline index_t positions_along(index_t size, index_t window)
{
    // i < size - window - 10, written so that nothing can overflow.
    if (window >= size || size - window <= window_margin) return window_margin;
    return size - window - window_margin;
}

inline scored_positions scored_positions_of(index_t M, index_t N, index_t h, index_t w)
{
    return {window_margin, positions_along(M, h), window_margin, positions_along(N, w)};
}

// Top-left corners of every window that lies wholly inside an M x N raster,
// with no further margin.
inline scored_positions inside_positions(index_t M, index_t N, index_t h, index_t w)
{
    const auto along = [](index_t size, index_t window) { return window > size ? 0 : size - window + 1; };
    return {0, along(M, h), 0, along(N, w)};
}

// A window's score goes to its middle cell; for an even size, to the lower
// (or right) one of the two middle cells.
inline index_t centre_offset(index_t size) { return size / 2; }

// Output rows 0 .. ready-1 of an M-row raster are final once label rows
// 0 .. have-1 are known, for a map that writes each window of h rows at its
// centre row.
inline index_t output_rows_final(index_t M, index_t h, index_t have)
{
    if (have >= M) return M;
    return std::clamp<index_t>(have - h + centre_offset(h) + 1, 0, M);
}

// Calls f(k, value) for the cells (r0 + k, c), k = 0 .. r1-r0-1, of a view.
template <class T, class F>
inline void for_each_down(raster_view<T> v, index_t c, index_t r0, index_t r1, F&& f)
{
    const T* p = &v(r0, c);
    const index_t n = r1 - r0, step = v.row_step;
    if (step == 1)
        for (index_t k = 0; k < n; ++k) f(k, p[k]);
    else
        for (index_t k = 0; k < n; ++k) f(k, p[k * step]);
}

// Rows r0 <= r < r1 and columns c0 <= c < c1 of a raster.
struct cell_block {
    index_t r0, r1, c0, c1;

    bool empty() const { return r1 <= r0 || c1 <= c0; }
};

inline cell_block whole_raster(index_t M, index_t N) { return {0, M, 0, N}; }

} // namespace rw
