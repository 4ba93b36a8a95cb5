#include "sampling.hpp"

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

} // namespace rw
