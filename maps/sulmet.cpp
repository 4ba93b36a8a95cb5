#include "sulmet.hpp"

#include "kernels/class_counts.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rw {
namespace {

// Window square sums, sum over k of n_k^2, of the windows with top rows
// i .. i + R - 1 and left columns j0 <= j < j_end; that of top row i + g goes
// to q[(j - j0) * stride + g]. Taking a cell from a class of count c turns c^2
// into (c - 1)^2 = c^2 - 2c + 1; adding one that brings the count to c turns
// (c - 1)^2 into (c - 1)^2 + 2c - 1. So s is a whole number no larger than
// (h * w)^2, held exactly in 64 bits, and its value does not depend on the
// column where a sweep starts.
template <index_t R>
void row_square_sums(const raster_args& a, index_t i, index_t j0, index_t j_end,
                     std::vector<index_t>& counts, std::int64_t* q, index_t stride)
{
    index_t* count[R];
    index_t s[R];
    for (index_t g = 0; g < R; ++g) {
        count[g] = counts.data() + g * a.K;
        count_window(a, i + g, j0, count[g]);
        s[g] = 0;
        for (index_t k = 0; k < a.K; ++k) s[g] = s[g] + count[g][k] * count[g][k];
        q[g] = s[g];
    }
    for (index_t j = j0 + 1; j < j_end; ++j) {
        slide_right<R>(
            a, i, j,
            [&](index_t g, index_t k) {
                index_t& c = count[g][k];
                s[g] = s[g] - 2 * c + 1;
                --c;
            },
            [&](index_t g, index_t k) {
                index_t& c = count[g][k];
                ++c;
                s[g] = s[g] + 2 * c - 1;
            });
        for (index_t g = 0; g < R; ++g) q[(j - j0) * stride + g] = s[g];
    }
}

} // namespace

void sulmet_map(const raster_args& a)
{
    const scored_positions p = scored_positions_of(a.M, a.N, a.h, a.w);
    if (p.empty()) return;

    // The sum over k of n_k * table[k - 1] is the window box sum of the
    // class values.
    const index_t cells = a.M * a.N;
    std::vector<double> values(static_cast<std::size_t>(cells));
    for (index_t k = 0; k < cells; ++k) values[k] = a.table[a.labels[k] - 1];
    summed_area_table(values.data(), a.M, a.N);

    double table_square_sum = 0.0;
    for (index_t k = 0; k < a.K; ++k) table_square_sum = table_square_sum + a.table[k] * a.table[k];

    // 64-bit products: (h * w)^2 passes 2^31 - 1 from a 216 x 216 window on.
    const double area = static_cast<double>(a.h * a.w);
    const double area_squared = static_cast<double>(a.h * a.h * a.w * a.w);
    const index_t di = centre_offset(a.h), dj = centre_offset(a.w);

    // Square sums are kept for a strip of top rows at a time, stored column
    // by column, so that the scoring reads the summed-area table and writes
    // the output down columns, in memory order. Its rows are swept eight at a
    // time, any left over one by one.
    constexpr index_t strip_rows = 32;
    constexpr index_t rows_at_once = 8;
    std::vector<index_t> counts(static_cast<std::size_t>(rows_at_once * a.K));
    std::vector<std::int64_t> strip(static_cast<std::size_t>(strip_rows * (p.j_end - p.j0)));
    for (index_t top = p.i0; top < p.i_end; top += strip_rows) {
        const index_t rows = std::min(strip_rows, p.i_end - top);
        index_t r = 0;
        for (; r + rows_at_once <= rows; r += rows_at_once)
            row_square_sums<rows_at_once>(a, top + r, p.j0, p.j_end, counts, strip.data() + r,
                                          strip_rows);
        for (; r < rows; ++r)
            row_square_sums<1>(a, top + r, p.j0, p.j_end, counts, strip.data() + r, strip_rows);
        for (index_t j = p.j0; j < p.j_end; ++j) {
            const std::int64_t* q = strip.data() + (j - p.j0) * strip_rows - top;
            double* out_col = a.out + a.M * (j + dj) + di;
            for (index_t i = top; i < top + rows; ++i) {
                const double b = box_sum(values.data(), a.M, i, j, a.h, a.w);
                const double t1 = static_cast<double>(q[i]) / area_squared;
                const double t2 = (2.0 * b) / area;
                out_col[i] = 1.0 - 0.5 * ((t1 - t2) + table_square_sum);
            }
        }
    }
}

} // namespace rw
