#include "sulmet.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rw {
namespace {

// Window square sums, sum over k of n_k^2, of the windows with top row i and
// left columns j0 <= j < j_end, into q[(j - j0) * stride]. The first window is counted
// cell by cell; every later one slides one column to the right, the whole
// leaving column going out before the entering one comes in. Taking a cell
// from a class of count c turns c^2 into (c - 1)^2 = c^2 - 2c + 1; adding one
// that brings the count to c turns (c - 1)^2 into (c - 1)^2 + 2c - 1. So s is
// always a whole number no larger than (h * w)^2, held exactly by the double
// for any window of up to 94 million cells, and its value does not depend on
// the column where a sweep starts.
void row_square_sums(const raster_args& a, index_t i, index_t j0, index_t j_end,
                     std::vector<index_t>& count, std::int64_t* q, index_t stride)
{
    std::fill(count.begin(), count.end(), 0);
    for (index_t c = j0; c < j0 + a.w; ++c) {
        const std::int32_t* col = a.labels + a.M * c + i;
        for (index_t r = 0; r < a.h; ++r) ++count[col[r] - 1];
    }
    double s = 0.0;
    for (const index_t x : count) s = s + static_cast<double>(x * x);
    q[0] = static_cast<std::int64_t>(s);

    for (index_t j = j0 + 1; j < j_end; ++j) {
        const std::int32_t* leaving = a.labels + a.M * (j - 1) + i;
        const std::int32_t* entering = a.labels + a.M * (j + a.w - 1) + i;
        for (index_t r = 0; r < a.h; ++r) {
            index_t& c = count[leaving[r] - 1];
            s = (s - static_cast<double>(2 * c)) + 1.0;
            --c;
        }
        for (index_t r = 0; r < a.h; ++r) {
            index_t& c = count[entering[r] - 1];
            ++c;
            s = (s + static_cast<double>(2 * c)) - 1.0;
        }
        q[(j - j0) * stride] = static_cast<std::int64_t>(s);
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
    // the output down columns, in memory order.
    constexpr index_t strip_rows = 32;
    std::vector<index_t> count(static_cast<std::size_t>(a.K));
    std::vector<std::int64_t> strip(static_cast<std::size_t>(strip_rows * (p.j_end - p.j0)));
    for (index_t top = p.i0; top < p.i_end; top += strip_rows) {
        const index_t rows = std::min(strip_rows, p.i_end - top);
        for (index_t r = 0; r < rows; ++r)
            row_square_sums(a, top + r, p.j0, p.j_end, count, strip.data() + r, strip_rows);
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
