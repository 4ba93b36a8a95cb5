// Raster-window frame shared by every map: the argument record, the window
// geometry with its margin, the summed-area table and the window box sum.
//
// Every raster is column-major with 0-based rows and columns: cell (r, c)
// lies at r + M * c, so the row index runs fastest. Sizes and indices are
// 64-bit, so rasters past 2^31 cells work wherever memory allows.
#pragma once

#include <cstdint>

namespace rw {

using index_t = std::int64_t;

// Rows and columns on the top and left that no scored window touches; on the
// bottom and right the untouched band is one wider (11 cells).
inline constexpr index_t window_margin = 10;

// What a gateway reads from its host and hands to one map kernel.
struct raster_args {
    const double* table = nullptr;        // K class values; label k reads table[k - 1]
    index_t K = 0;
    index_t h = 0, w = 0;                 // window height and width
    index_t M = 0, N = 0;                 // raster rows and columns
    const std::int32_t* labels = nullptr; // M x N labels in 1..K
    double* out = nullptr;                // M x N output, zero on entry
};

// Top-left corners (i, j) of the scored windows: i0 <= i < i_end and
// j0 <= j < j_end, rows outer. Empty (i_end <= i0 or j_end <= j0) when the
// raster is too small for the window plus its margins.
struct scored_positions {
    index_t i0, i_end, j0, j_end;

    bool empty() const { return i_end <= i0 || j_end <= j0; }
};

inline scored_positions scored_positions_of(index_t M, index_t N, index_t h, index_t w)
{
    return {window_margin, M - h - window_margin, window_margin, N - w - window_margin};
}

// A window's score goes to its middle cell; for an even size, to the lower
// (or right) one of the two middle cells.
inline index_t centre_offset(index_t size) { return size / 2; }

// Turns x into its summed-area table in place: afterwards x(r, c) holds the
// sum of the original cells (r', c') with r' <= r and c' <= c. The additions
// run along rows first, then down columns, so every cell sees the same
// additions in the same order on every machine.
void summed_area_table(double* x, index_t M, index_t N);
// Integer tables wrap modulo 2^32 instead of overflowing; a window box sum
// taken from them is still exact while the true window sum fits in 32 bits.
void summed_area_table(std::int32_t* x, index_t M, index_t N);

// Sum over the h x w window with top-left cell (i, j), i >= 1 and j >= 1,
// from a summed-area table s with M rows. The four terms are combined in
// this order, left to right; the order fixes the rounding.
inline double box_sum(const double* s, index_t M, index_t i, index_t j, index_t h, index_t w)
{
    const index_t top = i - 1, bottom = i + h - 1, left = (j - 1) * M, right = (j + w - 1) * M;
    return s[bottom + right] - s[top + right] - s[bottom + left] + s[top + left];
}

inline std::int32_t box_sum(const std::int32_t* s, index_t M, index_t i, index_t j, index_t h,
                            index_t w)
{
    const index_t top = i - 1, bottom = i + h - 1, left = (j - 1) * M, right = (j + w - 1) * M;
    const auto u = [s](index_t k) { return static_cast<std::uint32_t>(s[k]); };
    return static_cast<std::int32_t>(u(bottom + right) - u(top + right) - u(bottom + left) +
                                     u(top + left));
}

// For every scored position, writes the window mean (box sum over h * w) of
// the summed-area table s at the window's centre cell of out. Other cells of
// out are left as they are.
void write_window_means(const double* s, index_t M, index_t N, index_t h, index_t w, double* out);
void write_window_means(const std::int32_t* s, index_t M, index_t N, index_t h, index_t w,
                        double* out);

} // namespace rw
