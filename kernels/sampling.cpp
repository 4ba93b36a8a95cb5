#include "sampling.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rw {

std::int32_t sampling_threshold(double p)
{
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    const double x = 32767.0 * p;
    if (std::isnan(x)) return 0;
    if (x <= lo) return std::numeric_limits<std::int32_t>::min();
    if (x >= hi) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(x); // truncates toward zero
}

std::vector<std::int32_t> threshold_table(const double* table, index_t K)
{
    std::vector<std::int32_t> t(static_cast<std::size_t>(K));
    for (index_t k = 0; k < K; ++k) t[k] = sampling_threshold(table[k]);
    return t;
}

void count_draws(raster_view<const std::int32_t> labels, const std::int32_t* thresholds, cell_block b,
                 index_t* per_row, worker_pool& pool)
{
    std::fill(per_row, per_row + std::max<index_t>(0, b.r1 - b.r0), index_t{0});
    if (b.empty()) return;
    pool.parallel_for(b.r1 - b.r0, [&](index_t lo, index_t hi) {
        for (index_t c = b.c0; c < b.c1; ++c)
            for_each_down(labels, c, b.r0 + lo, b.r0 + hi, [&](index_t k, std::int32_t l) {
                per_row[lo + k] += thresholds[l - 1] > 0;
            });
    });
}

std::uint64_t draw_positions(const index_t* per_row, index_t n, std::uint64_t start, std::uint64_t* at)
{
    std::uint64_t next = start;
    for (index_t k = 0; k < n; ++k) {
        at[k] = next;
        next += static_cast<std::uint64_t>(per_row[k]);
    }
    return next - start;
}

} // namespace rw
