#include "dravix.hpp"

#include "kernels/machine_memory.hpp"
#include "kernels/sampling.hpp"
#include "catalogue.hpp"
#include "value_table.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
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

namespace {

// Dravix reads the classes of its sampling region only, whichever windows
// it scores: its points and probes are drawn there.
cell_block sampled_labels(const map_request& q, index_t M, index_t N) { return sampling_region(M, N, q.h, q.w); }

} // namespace

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

void count_points(label_view labels, const std::int32_t* thresholds, std::uint32_t seed, cell_block b,
                  const std::uint64_t* draw_start, index_t* points, worker_pool& pool)
{
    std::fill(points, points + std::max<index_t>(0, b.r1 - b.r0), index_t{0});
    if (b.empty()) return;
    // Each row's own copy of the generator at its first draw, walking
    // columns for the labels' sake.
    std::vector<crt_rand> rows(static_cast<std::size_t>(b.r1 - b.r0), crt_rand(seed));
    for (index_t k = 0; k < b.r1 - b.r0; ++k) rows[k].discard(draw_start[k]);
    pool.parallel_for(b.r1 - b.r0, [&](index_t lo, index_t hi) {
        for (index_t c = b.c0; c < b.c1; ++c)
            for_each_down(labels, c, b.r0 + lo, b.r0 + hi, [&](index_t k, std::int32_t l) {
                points[lo + k] += sampling_test(thresholds[l - 1], rows[lo + k]);
            });
    });
}

void probe_rows(label_view labels, const std::int32_t* thresholds, std::uint32_t seed, cell_block b,
                const std::uint64_t* draw_start, const std::uint64_t* first_point,
                const point_probes& probes, point_row* rows, worker_pool& pool)
{
    if (b.empty()) return;
    pool.parallel_for(b.r1 - b.r0, [&](index_t lo, index_t hi) {
        // A group of rows at a time: sampled walking columns outer, then
        // probed, so that labels are read near where they were last read in
        // either layout.
        constexpr index_t group = 16;
        std::vector<crt_rand> samplers;
        std::vector<index_t> pool_entries;
        const std::function<void()> poll = [&] { pool.check_interrupt(); };
        for (index_t top = b.r0 + lo; top < b.r0 + hi; top += group) {
            pool.check_interrupt();
            const index_t bottom = std::min(top + group, b.r0 + hi);
            samplers.clear();
            for (index_t r = top; r < bottom; ++r) {
                samplers.emplace_back(seed);
                samplers.back().discard(draw_start[r - b.r0]);
                rows[r - b.r0].cols.clear();
            }
            for (index_t c = b.c0; c < b.c1; ++c)
                for_each_down(labels, c, top, bottom, [&](index_t k, std::int32_t l) {
                    if (sampling_test(thresholds[l - 1], samplers[k])) rows[top + k - b.r0].cols.push_back(c);
                });
            for (index_t r = top; r < bottom; ++r) {
                point_row& points = rows[r - b.r0];
                const index_t m = static_cast<index_t>(points.cols.size());
                points.keep.resize(points.cols.size());
                probes.keep_thresholds(labels, r, points.cols.data(), m,
                                       static_cast<index_t>(first_point[r - b.r0]), points.keep.data(),
                                       pool_entries, poll);
            }
        }
    });
}

index_t thinning_draws(const point_row& row)
{
    index_t n = 0;
    for (const std::int32_t keep : row.keep) n += keep >= 0;
    return n;
}

// Class values are only compared with the sampling scale, where NaN and the
// infinities have their rules.
extern const map_entry dravix_entry{
    map_kind::dravix, "dravix", "Dravix",
    "share of the window's cells holding a random point that survived thinning: points drawn "
    "with the class value as chance, each removed the likelier the more of its probes find "
    "its own class",
    "the chance of a point on each code", true, true, map_engine::thinned_points,
    std::numeric_limits<index_t>::max(), usable_values::any, scored_positions_of,
    sampled_labels, sampling_region, nullptr};

} // namespace rw
