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

namespace {

class dravix_map final : public strip_processor {
public:
    dravix_map(const map_request& q, index_t M, index_t N, index_t strip_rows, worker_pool& pool)
        : q_(q), M_(M), N_(N), ri_(probe_reach(q.h)), region_(sampling_region(M, N, q.h, q.w)),
          p_(scored_positions_of(M, N, q.h, q.w)), thresholds_(threshold_table(q.table, q.K)),
          density_(p_.empty() ? 0 : N, q.h, strip_rows + ri_),
          valid_(valid_counts_over(q, {0, M, 0, p_.empty() ? 0 : N}, strip_rows + ri_)), pool_(pool)
    {
        if (!region_.empty()) {
            first_draw_.resize(static_cast<std::size_t>(region_.r1 - region_.r0));
            first_point_.resize(first_draw_.size());
        }
        if (!p_.empty()) points_.resize(static_cast<std::size_t>((strip_rows + ri_) * N));
    }

    // Thinning a row reads labels up to ri rows above and below it.
    index_t label_rows_kept() const override { return 2 * ri_; }
    bool has_count_pass() const override { return true; }

    void count(label_view band, index_t a, index_t b) override
    {
        const cell_block rows{std::max(a, region_.r0), std::min(b, region_.r1), region_.c0, region_.c1};
        if (p_.empty() || rows.r1 <= rows.r0) return;
        const index_t n = rows.r1 - rows.r0, at = rows.r0 - region_.r0;
        std::vector<index_t> per_row(static_cast<std::size_t>(n));
        count_draws(band, thresholds_.data(), rows, per_row.data(), pool_);
        draws_ += draw_positions(per_row.data(), n, draws_, first_draw_.data() + at);
        count_points(band, thresholds_.data(), q_.seed, rows, first_draw_.data() + at, per_row.data(), pool_);
        n_ += draw_positions(per_row.data(), n, n_, first_point_.data() + at);
    }

    void end_count() override
    {
        if (n_ == 0) return; // no point: the map is all 0
        probes_.emplace(q_, static_cast<index_t>(draws_), static_cast<index_t>(n_),
                        probe_count(q_.probes_per_cell, M_, N_, static_cast<index_t>(n_)));
    }

    index_t output_rows_ready(index_t have) const override
    {
        return output_rows_final(M_, q_.h, points_final(have));
    }

    void advance(label_view band, index_t /*a*/, index_t b, output_view out) override
    {
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
        valid_.build(band, pa, pb, pool_);
        const auto [i0, i1] = window_rows_ending_in(p_, pa, pb, q_.h);
        write_means(density_.view(), valid_, {i0, i1, p_.j0, p_.j_end}, q_.h, q_.w, out, pool_);
    }

private:
    // Point rows 0 .. result-1 are thinned once label rows 0 .. have-1 are in.
    index_t points_final(index_t have) const { return have >= M_ ? M_ : std::max<index_t>(0, have - ri_); }

    void thin_rows(label_view band, index_t r0, index_t r1)
    {
        const cell_block b{std::max(r0, region_.r0), std::min(r1, region_.r1), region_.c0, region_.c1};
        if (b.r1 <= b.r0) return;
        const index_t n = b.r1 - b.r0, at = b.r0 - region_.r0;
        if (static_cast<index_t>(rows_.size()) < n) rows_.resize(static_cast<std::size_t>(n));
        probe_rows(band, thresholds_.data(), q_.seed, b, first_draw_.data() + at, first_point_.data() + at,
                   *probes_, rows_.data(), pool_);
        // One thinning draw per point with a same-class probe, in point
        // order: each row's draws start where the rows before it leave off.
        std::vector<index_t> per_row(static_cast<std::size_t>(n));
        for (index_t k = 0; k < n; ++k) per_row[k] = thinning_draws(rows_[k]);
        std::vector<std::uint64_t> row_start(static_cast<std::size_t>(n));
        thinning_draws_ += draw_positions(per_row.data(), n, probes_->thinning_start() + thinning_draws_,
                                          row_start.data());
        const index_t height = static_cast<index_t>(points_.size()) / N_;
        pool_.parallel_for(n, [&](index_t lo, index_t hi) {
            for (index_t k = lo; k < hi; ++k) {
                crt_rand gen(q_.seed);
                gen.discard(row_start[k]);
                const point_row& points = rows_[k];
                for (std::size_t t = 0; t < points.cols.size(); ++t)
                    if (survives(points.keep[t], gen)) points_[(b.r0 + k - r0) + height * points.cols[t]] = 1;
            }
        });
    }

    map_request q_;
    index_t M_, N_, ri_;
    cell_block region_;
    scored_positions p_;
    std::vector<std::int32_t> thresholds_;
    // Per region row: its first sampling draw, then its first point ordinal.
    std::vector<std::uint64_t> first_draw_, first_point_;
    std::uint64_t draws_ = 0, n_ = 0, thinning_draws_ = 0;
    std::optional<point_probes> probes_; // once the points are counted
    index_t thinned_ = 0;                // point rows done
    std::vector<std::int32_t> points_;   // point rows of the current strip, column by column
    std::vector<point_row> rows_;        // the points of the rows being thinned
    summed_area_strip<std::int32_t> density_;
    window_valid_counts valid_;
    worker_pool& pool_;
};

} // namespace

// Class values are only compared with the sampling scale, where NaN and the
// infinities have their rules.
extern const map_entry dravix_entry{
    map_kind::dravix, "dravix", "Dravix",
    "share of the window's cells holding a random point that survived thinning: points drawn "
    "with the class value as chance, each removed the likelier the more of its probes find "
    "its own class",
    "the chance of a point on each code", true, true, map_engine::thinned_points,
    std::numeric_limits<index_t>::max(), usable_values::any, scored_positions_of,
    sampling_region, sampling_region, nullptr,
    [](const map_request& q, index_t M, index_t N, index_t strip_rows,
       worker_pool& pool) -> std::unique_ptr<strip_processor> {
        return std::make_unique<dravix_map>(q, M, N, strip_rows, pool);
    }};

} // namespace rw
