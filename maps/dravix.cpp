#include "dravix.hpp"

#include "kernels/machine_memory.hpp"
#include "kernels/sampling.hpp"
#include "map_setup.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <stdexcept>

namespace rw {
namespace {

__extension__ using wide_t = unsigned __int128;

// A point's pool entries are regenerated; up to this many are held at once
// for the points of one row, beyond it each point draws its own.
constexpr index_t most_entries_held = index_t{1} << 22;

// Keep thresholds are tabled by same-class count for up to this many probes.
constexpr index_t most_tabled_counts = index_t{1} << 20;

// Probes drawn one by one between two checks for a stop request: a few
// milliseconds' work.
constexpr index_t probes_between_checks = index_t{1} << 18;

} // namespace

index_t probe_reach(index_t size)
{
    return static_cast<index_t>(0.85 * static_cast<double>(size / 2)); // truncates
}

cell_block sampling_region(index_t M, index_t N, index_t h, index_t w)
{
    const index_t ri = probe_reach(h), rj = probe_reach(w);
    // Rows ri+1 .. M-ri-2, written so that no difference can overflow.
    const index_t r1 = M > ri + 1 ? M - ri - 1 : 0, c1 = N > rj + 1 ? N - rj - 1 : 0;
    return {ri + 1, r1, rj + 1, c1};
}

index_t probe_count(std::int32_t probes_per_cell, index_t M, index_t N, index_t n)
{
    if (probes_per_cell < 0) throw std::invalid_argument("probesPerCell is negative");
    if (n < 1) throw std::invalid_argument("probe count of no points");
    // M * N is below 2^126; a raster of 2^64 cells or more could never be
    // read in this machine's lifetime, so beyond that the product of at most
    // 2^31 * 2^64 cannot wrap in 128 bits. P fits in 64 bits whenever the
    // pool fits in memory.
    const wide_t cells = wide_t(static_cast<std::uint64_t>(M)) * static_cast<std::uint64_t>(N);
    if (cells >> 64 != 0) throw std::bad_alloc();
    const wide_t P = wide_t(static_cast<std::uint32_t>(probes_per_cell)) * cells /
                     static_cast<std::uint64_t>(n);
    if (P * 8 > physical_memory_bytes() / 2) throw std::bad_alloc();
    return static_cast<index_t>(P);
}

std::int32_t keep_threshold(index_t e)
{
    if (e == 0) return 32767;
    return static_cast<std::int32_t>(32767.0 / std::sqrt(static_cast<double>(e))); // truncates
}

index_t same_class_estimate(index_t area, index_t l, index_t P)
{
    index_t product;
    if (!__builtin_mul_overflow(area, l, &product)) return product / P;
    // Huge windows with huge probe counts: the quotient is still at most area.
    return static_cast<index_t>(wide_t(static_cast<std::uint64_t>(area)) *
                                wide_t(static_cast<std::uint64_t>(l)) /
                                wide_t(static_cast<std::uint64_t>(P)));
}

point_probes::point_probes(const map_request& q, index_t draws, index_t points, index_t P)
    : seed_(q.seed), area_(q.h * q.w), points_(points), P_(P),
      pool_start_(static_cast<std::uint64_t>(draws)), draw_(probe_reach(q.h), probe_reach(q.w))
{
    if (P > 0 && P < most_tabled_counts) {
        keep_.resize(static_cast<std::size_t>(P + 1));
        for (index_t l = 0; l <= P; ++l) keep_[l] = keep_threshold(same_class_estimate(area_, l, P));
    }
}

std::int32_t point_probes::keep_of(index_t same) const
{
    return keep_.empty() ? keep_threshold(same_class_estimate(area_, same, P_)) : keep_[same];
}

void point_probes::keep_thresholds(label_view labels, index_t r, const index_t* cols, index_t m,
                                   index_t first, std::int32_t* keep, std::vector<index_t>& pool,
                                   const std::function<void()>& poll) const
{
    const index_t P = P_;
    if (P == 0 || m == 0) { // no probes: every point keeps, without a draw
        std::fill(keep, keep + m, -1);
        return;
    }
    // A pool entry as an offset within the labels' memory.
    const index_t rs = labels.row_step, cs = labels.col_step;
    const auto entry = [&](crt_rand& gen) {
        const probe_offset_draw::offset o = draw_(gen);
        return o.dr * rs + o.dc * cs;
    };
    const bool held = m + P <= most_entries_held;
    if (held) {
        crt_rand gen(seed_);
        gen.discard(pool_start_ + 2 * static_cast<std::uint64_t>(first));
        pool.resize(static_cast<std::size_t>(m + P));
        for (index_t& offset : pool) offset = entry(gen);
    }
    // Counts read only labels and the pool, so removing one point never
    // changes another's count.
    for (index_t t = 0; t < m; ++t) {
        const std::int32_t* cell = &labels(r, cols[t]);
        const std::int32_t own = *cell;
        index_t l = 0;
        if (held) {
            if (P >= probes_between_checks / 64) poll();
            const index_t* probe = pool.data() + t;
            for (index_t k = 0; k < P; ++k) l += cell[probe[k]] == own;
        } else {
            // Huge probe counts: a point alone may take seconds, so a stop
            // request is heeded between runs of probes.
            crt_rand gen(seed_);
            gen.discard(pool_start_ + 2 * static_cast<std::uint64_t>(first + t));
            for (index_t k0 = 0; k0 < P; k0 += probes_between_checks) {
                poll();
                const index_t k1 = std::min(P, k0 + probes_between_checks);
                for (index_t k = k0; k < k1; ++k) l += cell[entry(gen)] == own;
            }
        }
        keep[t] = l == 0 ? -1 : keep_of(l);
    }
}

dravix_map::dravix_map(const map_request& q, index_t M, index_t N, index_t strip_rows,
                       worker_pool& pool)
    : q_(q), M_(M), N_(N), ri_(probe_reach(q.h)), rj_(probe_reach(q.w)),
      region_(sampling_region(M, N, q.h, q.w)), p_(scored_positions_of(M, N, q.h, q.w)),
      thresholds_(threshold_table(q.table, q.K)),
      density_(p_.empty() ? 0 : N, q.h, strip_rows + ri_),
      valid_(valid_counts_of(q, p_.empty() ? 0 : N, strip_rows + ri_)), pool_(pool)
{
    if (!region_.empty()) {
        first_draw_.resize(static_cast<std::size_t>(region_.r1 - region_.r0));
        first_point_.resize(first_draw_.size());
    }
    if (!p_.empty()) points_.resize(static_cast<std::size_t>((strip_rows + ri_) * N));
}

void dravix_map::count(label_view band, index_t a, index_t b)
{
    const index_t r0 = std::max(a, region_.r0), r1 = std::min(b, region_.r1);
    if (p_.empty() || r1 <= r0) return;
    const std::int32_t* thresholds = thresholds_.data();
    // Draws per row, then each row's own copy of the generator at its first
    // draw, then points per row, walking columns for the labels' sake.
    std::vector<index_t> per_row(static_cast<std::size_t>(r1 - r0), 0);
    pool_.parallel_for(r1 - r0, [&](index_t lo, index_t hi) {
        for (index_t c = region_.c0; c < region_.c1; ++c)
            for_each_down(band, c, r0 + lo, r0 + hi, [&](index_t k, std::int32_t l) {
                per_row[lo + k] += thresholds[l - 1] > 0;
            });
    });
    std::vector<crt_rand> rows;
    crt_rand gen(q_.seed);
    gen.discard(static_cast<std::uint64_t>(draws_));
    for (index_t r = r0; r < r1; ++r) {
        first_draw_[r - region_.r0] = draws_;
        rows.push_back(gen);
        gen.discard(static_cast<std::uint64_t>(per_row[r - r0]));
        draws_ += per_row[r - r0];
    }
    std::fill(per_row.begin(), per_row.end(), 0);
    pool_.parallel_for(r1 - r0, [&](index_t lo, index_t hi) {
        for (index_t c = region_.c0; c < region_.c1; ++c)
            for_each_down(band, c, r0 + lo, r0 + hi, [&](index_t k, std::int32_t l) {
                per_row[lo + k] += sampling_test(thresholds[l - 1], rows[lo + k]);
            });
    });
    for (index_t r = r0; r < r1; ++r) {
        first_point_[r - region_.r0] = n_;
        n_ += per_row[r - r0];
    }
}

void dravix_map::end_count()
{
    if (n_ == 0) return; // no point: the map is all 0
    probes_.emplace(q_, draws_, n_, probe_count(q_.probes_per_cell, M_, N_, n_));
}

void dravix_map::thin_rows(label_view band, index_t r0, index_t r1)
{
    const index_t first = std::max(r0, region_.r0), last = std::min(r1, region_.r1);
    if (last <= first) return;
    if (static_cast<index_t>(rows_.size()) < last - first)
        rows_.resize(static_cast<std::size_t>(last - first));
    const auto row = [&](index_t r) -> point_row& { return rows_[r - first]; };
    pool_.parallel_for(last - first, [&](index_t lo, index_t hi) {
        // A group of rows at a time: sampled walking columns outer, then
        // probed, so that labels are read near where they were last read in
        // either layout.
        constexpr index_t group = 16;
        std::vector<crt_rand> samplers;
        std::vector<index_t> pool;
        const std::function<void()> poll = [&] { pool_.check_interrupt(); };
        for (index_t top = first + lo; top < first + hi; top += group) {
            pool_.check_interrupt();
            const index_t bottom = std::min(top + group, first + hi);
            samplers.clear();
            for (index_t r = top; r < bottom; ++r) {
                samplers.emplace_back(q_.seed);
                samplers.back().discard(static_cast<std::uint64_t>(first_draw_[r - region_.r0]));
                row(r).cols.clear();
            }
            for (index_t c = region_.c0; c < region_.c1; ++c)
                for_each_down(band, c, top, bottom, [&](index_t k, std::int32_t l) {
                    if (sampling_test(thresholds_[l - 1], samplers[k])) row(top + k).cols.push_back(c);
                });
            for (index_t r = top; r < bottom; ++r) {
                point_row& points = row(r);
                const index_t m = static_cast<index_t>(points.cols.size());
                points.keep.resize(points.cols.size());
                probes_->keep_thresholds(band, r, points.cols.data(), m, first_point_[r - region_.r0],
                                         points.keep.data(), pool, poll);
            }
        }
    });

    // One thinning draw per point with a same-class probe, in point order:
    // each row's draws start where the rows before it leave off.
    const std::uint64_t thinning_start = probes_->thinning_start();
    std::vector<std::uint64_t> row_start(static_cast<std::size_t>(last - first));
    for (index_t r = first; r < last; ++r) {
        row_start[r - first] = thinning_start + static_cast<std::uint64_t>(thinning_draws_);
        for (const std::int32_t keep : row(r).keep) thinning_draws_ += keep >= 0;
    }
    // A point goes when its keep threshold is below the draw: a draw equal to
    // the threshold keeps it, so a threshold of 32767 always keeps.
    const index_t height = static_cast<index_t>(points_.size()) / N_;
    pool_.parallel_for(last - first, [&](index_t lo, index_t hi) {
        for (index_t r = first + lo; r < first + hi; ++r) {
            crt_rand gen(q_.seed);
            gen.discard(row_start[r - first]);
            const point_row& points = row(r);
            for (std::size_t t = 0; t < points.cols.size(); ++t) {
                const std::int32_t keep = points.keep[t];
                if (keep < 0 || !(keep < gen())) points_[(r - r0) + height * points.cols[t]] = 1;
            }
        }
    });
}

void dravix_map::advance(label_view band, index_t a, index_t b, output_view out)
{
    (void)a;
    const index_t pa = thinned_, pb = points_final(b);
    if (pb <= pa) return;
    thinned_ = pb;
    // No point at all: every density is 0, but windows with nodata still
    // need their NaN.
    if (p_.empty() || (n_ == 0 && !valid_.active())) return;
    const index_t height = static_cast<index_t>(points_.size()) / N_;
    std::fill(points_.begin(), points_.end(), 0);
    if (n_ > 0) thin_rows(band, pa, pb);
    density_.start(pa, pb, pool_);
    density_.build(pa, pb, [&](index_t c, index_t r0, index_t r1, std::int32_t* dst) {
        const std::int32_t* col = points_.data() + height * c + (r0 - pa);
        std::copy(col, col + (r1 - r0), dst);
    }, pool_);
    if (valid_.active()) {
        valid_.build(band, pa, pb, pool_);
        write_valid_means(density_, valid_, pa, pb, p_, q_.h, q_.w, out, pool_);
    } else
        write_window_means(density_, pa, pb, p_, q_.h, q_.w, out, pool_);
}

} // namespace rw
