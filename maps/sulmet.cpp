#include "sulmet.hpp"

#include "kernels/class_counts.hpp"

#include <algorithm>

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
void row_square_sums(label_view labels, const map_request& a, index_t i, index_t j0, index_t j_end,
                     index_t* counts, std::int64_t* q, index_t stride)
{
    index_t* count[R];
    index_t s[R];
    for (index_t g = 0; g < R; ++g) {
        count[g] = counts + g * a.K;
        count_window(labels, a.K, a.h, a.w, i + g, j0, count[g]);
        s[g] = 0;
        for (index_t k = 0; k < a.K; ++k) s[g] = s[g] + count[g][k] * count[g][k];
        q[g] = s[g];
    }
    for (index_t j = j0 + 1; j < j_end; ++j) {
        slide_right<R>(
            labels, a.h, a.w, i, j,
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

sulmet_map::sulmet_map(const map_request& q, index_t M, index_t N, index_t strip_rows,
                       worker_pool& pool)
    : q_(q), M_(M), p_(scored_positions_of(M, N, q.h, q.w)),
      values_(p_.empty() ? 0 : N, q.h, strip_rows), pool_(pool)
{
    for (index_t k = 0; k < q.K; ++k) table_square_sum_ = table_square_sum_ + q.table[k] * q.table[k];
    if (!p_.empty()) square_sums_.resize(static_cast<std::size_t>(strip_rows * (p_.j_end - p_.j0)));
}

void sulmet_map::advance(label_view band, index_t a, index_t b, output_view out)
{
    if (p_.empty()) return;
    const double* table = q_.table;
    values_.start(a, b, pool_);
    values_.build(a, b, [&](index_t c, index_t r0, index_t r1, double* dst) {
        for_each_down(band, c, r0, r1, [&](index_t k, std::int32_t l) { dst[k] = table[l - 1]; });
    }, pool_);

    // The windows whose bottom row is in this strip: top rows i0 .. i1-1.
    const index_t i0 = std::max(p_.i0, a - q_.h + 1), i1 = std::min(p_.i_end, b - q_.h + 1);
    if (i1 <= i0) return;
    const index_t rows = i1 - i0;
    pool_.parallel_for(rows, [&](index_t lo, index_t hi) {
        // Eight top rows at a time, any left over one by one.
        constexpr index_t at_once = 8;
        std::vector<index_t> counts(static_cast<std::size_t>(at_once * q_.K));
        index_t r = lo;
        for (; r + at_once <= hi; r += at_once)
            row_square_sums<at_once>(band, q_, i0 + r, p_.j0, p_.j_end, counts.data(),
                                     square_sums_.data() + r, rows);
        for (; r < hi; ++r)
            row_square_sums<1>(band, q_, i0 + r, p_.j0, p_.j_end, counts.data(),
                               square_sums_.data() + r, rows);
    });

    // 64-bit products: (h * w)^2 passes 2^31 - 1 from a 216 x 216 window on.
    const double area = static_cast<double>(q_.h * q_.w);
    const double area_squared = static_cast<double>(q_.h * q_.h * q_.w * q_.w);
    const index_t di = centre_offset(q_.h), dj = centre_offset(q_.w);
    values_.window_sums(a, b, p_, q_.h, q_.w, [&](index_t i, index_t j, double box) {
        const double t1 = static_cast<double>(square_sums_[(i - i0) + (j - p_.j0) * rows]) / area_squared;
        const double t2 = (2.0 * box) / area;
        out(i + di, j + dj) = 1.0 - 0.5 * ((t1 - t2) + table_square_sum_);
    }, pool_);
}

} // namespace rw
