#include "varnok.hpp"

#include "map_setup.hpp"

namespace rw {

varnok_map::varnok_map(const map_request& q, index_t M, index_t N, index_t strip_rows,
                       worker_pool& pool)
    : q_(q), M_(M), p_(scored_positions_of(M, N, q.h, q.w)),
      values_(p_.empty() ? 0 : N, q.h, strip_rows),
      valid_(valid_counts_of(q, p_.empty() ? 0 : N, strip_rows)), pool_(pool)
{
}

void varnok_map::advance(label_view band, index_t a, index_t b, output_view out)
{
    if (p_.empty()) return;
    const double* table = q_.table;
    values_.start(a, b, pool_);
    values_.build(a, b, [&](index_t c, index_t r0, index_t r1, double* dst) {
        for_each_down(band, c, r0, r1, [&](index_t k, std::int32_t l) { dst[k] = table[l - 1]; });
    }, pool_);
    if (valid_.active()) {
        valid_.build(band, a, b, pool_);
        write_valid_means(values_, valid_, a, b, p_, q_.h, q_.w, out, pool_);
    } else
        write_window_means(values_, a, b, p_, q_.h, q_.w, out, pool_);
}

} // namespace rw
