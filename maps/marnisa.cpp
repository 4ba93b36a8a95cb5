#include "marnisa.hpp"

#include "map_setup.hpp"

#include <cstdint>

namespace rw {

marnisa_map::marnisa_map(const map_request& q, index_t M, index_t N, index_t strip_rows,
                         worker_pool& pool)
    : q_(q), M_(M), N_(N), p_(scored_positions_of(M, N, q.h, q.w)),
      thresholds_(threshold_table(q.table, q.K)), next_row_(q.seed),
      values_(p_.empty() ? 0 : N, q.h, strip_rows),
      valid_(valid_counts_of(q, p_.empty() ? 0 : N, strip_rows)), pool_(pool)
{
}

void marnisa_map::advance(label_view band, index_t a, index_t b, output_view out)
{
    // With no scored window the output is 0 whatever is drawn.
    if (p_.empty()) return;
    const std::int32_t* thresholds = thresholds_.data();
    const double* table = q_.table;

    // Each row's draws come from its own copy of the generator, moved ahead
    // past the draws of every row before it.
    std::vector<index_t> draws(static_cast<std::size_t>(b - a), 0);
    pool_.parallel_for(b - a, [&](index_t lo, index_t hi) {
        for (index_t c = 0; c < N_; ++c)
            for_each_down(band, c, a + lo, a + hi, [&](index_t k, std::int32_t l) {
                draws[lo + k] += thresholds[l - 1] > 0;
            });
    });
    std::vector<crt_rand> rows;
    rows.reserve(draws.size());
    for (const index_t d : draws) {
        rows.push_back(next_row_);
        next_row_.discard(static_cast<std::uint64_t>(d));
    }

    values_.start(a, b, pool_);
    values_.build(a, b, [&](index_t c, index_t r0, index_t r1, double* dst) {
        crt_rand* gen = rows.data() + (r0 - a);
        for_each_down(band, c, r0, r1, [&](index_t k, std::int32_t l) {
            dst[k] = sampled_value(thresholds[l - 1], table[l - 1], gen[k]);
        });
    }, pool_);
    if (valid_.active()) {
        valid_.build(band, a, b, pool_);
        write_valid_means(values_, valid_, a, b, p_, q_.h, q_.w, out, pool_);
    } else
        write_window_means(values_, a, b, p_, q_.h, q_.w, out, pool_);
}

} // namespace rw
