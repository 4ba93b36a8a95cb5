#include "tiles.hpp"

#include "catalogue.hpp"
#include "dravix.hpp"
#include "map_setup.hpp"
#include "ombrel.hpp"
#include "value_table.hpp"

#include "kernels/sampling.hpp"

#include <algorithm>
#include <optional>

namespace rw::tiles {

struct prepared_rules {
    explicit prepared_rules(const tiled_map& t)
        : setup(t.q), positions(window_positions(t.q, t.M, t.N))
    {
        const map_entry& entry = entry_of(t.q.map);
        if (entry.random) thresholds = threshold_table(setup.q.table, setup.q.K);
        if (entry.values) scorer = entry.values->make_scorer(setup.q);
        if (entry.values && entry.values->sums_exactly && t.q.arithmetic == arithmetic::exact)
            exact_scale.emplace(exact_scale_of(setup.q, entry.random ? thresholds.data() : nullptr));
        if (entry.engine == map_engine::running_score && !positions.empty()) ombrel.emplace(setup.q);
    }

    map_setup setup;
    scored_positions positions;
    std::vector<std::int32_t> thresholds;  // random maps
    std::unique_ptr<window_scorer> scorer; // value table maps
    std::optional<ombrel_windows> ombrel;  // Ombrel, when it scores a window
    std::optional<value_scale> exact_scale; // value maps summed exactly
};

tiled_map::tiled_map(const map_request& request, index_t rows, index_t cols,
                     std::function<bool()> stop)
    : q(request), M(rows), N(cols), interrupted(std::move(stop)),
      rules_(std::make_shared<prepared_rules>(*this))
{
}

const map_request& tiled_map::run() const { return rules_->setup.q; }

namespace {

// The pool a tile's work runs on: the caller's, or the calling thread.
class pool_of {
public:
    pool_of(const tiled_map& t, worker_pool* pool)
        : pool_(pool ? pool : &own_.emplace(1, t.interrupted))
    {
    }
    operator worker_pool&() { return *pool_; }
    worker_pool* get() { return pool_; }

private:
    std::optional<worker_pool> own_;
    worker_pool* pool_;
};

// Top rows of the windows centred in rows b.r0 .. b.r1-1: [first, second).
std::pair<index_t, index_t> window_rows(const tiled_map& t, cell_block b)
{
    const scored_positions& p = t.rules().positions;
    if (p.empty()) return {0, 0};
    const index_t di = centre_offset(t.q.h);
    const index_t i0 = std::max(p.i0, b.r0 - di), i1 = std::min(p.i_end, b.r1 - di);
    return {i0, std::max(i0, i1)};
}

// The cells of an output tile, in whole-raster coordinates.
cell_block block_of(raster_view<double> out)
{
    return {out.row0, out.row_end(), out.col0, out.col0 + out.cols};
}

// Per row of tile b, into per_row[r - b.r0], what count(d, per_row of d's
// first row) counts over the tile's sampled cells d; 0 for rows without any.
template <class Count>
void count_sampled_rows(const tiled_map& t, cell_block b, index_t* per_row, Count&& count)
{
    std::fill(per_row, per_row + (b.r1 - b.r0), index_t{0});
    const cell_block d = sampled_cells(t, b);
    if (!d.empty()) count(d, per_row + (d.r0 - b.r0));
}

// The value of every cell of tile b into `into` (a view over b): its class
// value, or, when sampled, that of a kept cell and 0 for the others.
void cell_values_of(const tiled_map& t, label_view labels, cell_block b, const std::uint64_t* draw_start,
                    raster_view<double> into, worker_pool& pool)
{
    const bool sampled = entry_of(t.q.map).values->sampled;
    cell_values<double> values(t.run().table, sampled ? t.rules().thresholds.data() : nullptr, t.run().seed);
    if (sampled) values.place_rows(b.r0, draw_start, b.r1 - b.r0);
    pool.parallel_for(b.r1 - b.r0, [&](index_t lo, index_t hi) {
        std::vector<double> down(static_cast<std::size_t>(hi - lo));
        for (index_t c = b.c0; c < b.c1; ++c) {
            values(labels, c, b.r0 + lo, b.r0 + hi, down.data());
            for (index_t k = 0; k < hi - lo; ++k) into(b.r0 + lo + k, c) = down[k];
        }
    });
}

} // namespace

bool sums_exactly(const tiled_map& t) { return t.rules().exact_scale.has_value(); }

exact_value_table exact_table_of(const tiled_map& t, cell_block b, index_t keep, index_t strip_rows)
{
    using sliding = exact_value_table::sliding;
    const value_rules& rules = *entry_of(t.q.map).values;
    const bool slides = rules.reads_runs && t.q.footprint.shape == window_shape::rectangle;
    const sliding slide = !slides ? sliding::none : rules.sampled ? sliding::over_kept_cells : sliding::over_labels;
    return exact_value_table(*t.rules().exact_scale, t.run(), b, keep, strip_rows, slide);
}

void exact_values(const tiled_map& t, label_view labels, cell_block b, const std::uint64_t* draw_start,
                  const wide_sum* left, exact_value_table& table, wide_sum* right, worker_pool& pool)
{
    // Straight from the labels to each digit's integers; a sampled map
    // replays the same draws for every digit.
    const bool sampled = entry_of(t.q.map).values->sampled;
    const std::int32_t* thresholds = sampled ? t.rules().thresholds.data() : nullptr;
    if (table.slides() != exact_value_table::sliding::none) { // the class of each kept cell, 0 for the others
        if (right) std::fill(right, right + (b.r1 - b.r0), wide_sum{0});
        if (table.slides() == exact_value_table::sliding::over_labels) return;
        cell_values<std::int32_t> values(table.class_ids(), thresholds, t.run().seed);
        if (sampled) values.place_rows(b.r0, draw_start, b.r1 - b.r0);
        table.build_classes(b, [&](index_t c, index_t r0, index_t r1, std::int32_t* dst) {
            values(labels, c, r0, r1, dst);
        }, pool);
        return;
    }
    std::vector<cell_values<wide_sum>> digits;
    for (int d = 0; d < table.digits(); ++d) {
        digits.emplace_back(table.class_digits(d), thresholds, t.run().seed);
        if (sampled) digits.back().place_rows(b.r0, draw_start, b.r1 - b.r0);
    }
    table.build(b, [&](int d, index_t c, index_t r0, index_t r1, wide_sum* dst) {
        digits[d](labels, c, r0, r1, dst);
    }, left, right, pool);
}

void score_exact(const tiled_map& t, const exact_value_table& table, label_view labels,
                 const window_valid_counts& valid, raster_view<double> out, worker_pool& pool)
{
    const scored_positions p = windows_of(t, block_of(out));
    if (!p.empty()) t.rules().scorer->score_exact(labels, table, valid, p, out, pool);
}

scored_positions windows_of(const tiled_map& t, cell_block b)
{
    const scored_positions& p = t.rules().positions;
    const auto [i0, i1] = window_rows(t, b);
    const index_t dj = centre_offset(t.q.w);
    const index_t j0 = std::max(p.j0, b.c0 - dj), j1 = std::min(p.j_end, b.c1 - dj);
    if (p.empty() || i1 <= i0 || j1 <= j0) return {i0, i0, j0, j0};
    return {i0, i1, j0, j1};
}

cell_block window_cells(const tiled_map& t, cell_block b)
{
    const scored_positions p = windows_of(t, b);
    if (p.empty()) return {0, 0, 0, 0};
    // Windows on the raster's first row or column have no table cells
    // before them to read, and clipped windows none past its edges.
    return {std::max<index_t>(0, p.i0 - 1), std::min(t.M, p.i_end + t.q.h - 1), std::max<index_t>(0, p.j0 - 1),
            std::min(t.N, p.j_end + t.q.w - 1)};
}

cell_block sampled_cells(const tiled_map& t, cell_block b)
{
    const cell_block s = entry_of(t.q.map).sampled_block(t.M, t.N, t.q.h, t.q.w);
    return {std::max(b.r0, s.r0), std::min(b.r1, s.r1), std::max(b.c0, s.c0), std::min(b.c1, s.c1)};
}

void count_draws(const tiled_map& t, label_view labels, cell_block b, index_t* per_row, worker_pool* pool)
{
    pool_of on(t, pool);
    count_sampled_rows(t, b, per_row, [&](cell_block d, index_t* n) {
        rw::count_draws(labels, t.rules().thresholds.data(), d, n, on);
    });
}

window_valid_counts valid_counts_of(const tiled_map& t, label_view labels, cell_block halo, worker_pool* pool)
{
    pool_of on(t, pool);
    window_valid_counts valid = valid_counts_over(t.run(), t.M, t.N, halo, halo.r1 - halo.r0);
    valid.build(labels, halo.r0, halo.r1, on);
    return valid;
}

void value_table(const tiled_map& t, label_view labels, cell_block b, const std::uint64_t* draw_start,
                 const double* left, summed_area_strip<double>& table, double* right, worker_pool& pool)
{
    const bool sampled = entry_of(t.q.map).values->sampled;
    cell_values<double> values(t.run().table, sampled ? t.rules().thresholds.data() : nullptr, t.run().seed);
    if (sampled) values.place_rows(b.r0, draw_start, b.r1 - b.r0);
    table.build(b.r0, b.r1, [&](index_t c, index_t r0, index_t r1, double* dst) {
        values(labels, c, r0, r1, dst);
    }, pool, b.c0 > 0 ? left : nullptr, right, {b.c0, b.c1});
}

void value_table(const tiled_map& t, label_view labels, cell_block b, const std::uint64_t* draw_start,
                 const double* left, const double* top, raster_view<double> table, double* right)
{
    pool_of on(t, nullptr);
    if (sums_exactly(t)) {
        cell_values_of(t, labels, b, draw_start, table, on);
        if (right) std::fill(right, right + (b.r1 - b.r0), 0.0);
        return;
    }
    summed_area_strip<double> sums(b, b.r0 > 0 ? 1 : 0, b.r1 - b.r0);
    sums.start(b.r0, b.r1, on);
    if (b.r0 > 0) sums.seed_row_above(top);
    value_table(t, labels, b, draw_start, left, sums, right, on);
    const raster_view<const double> built = sums.view();
    for (index_t r = b.r0; r < b.r1; ++r)
        for (index_t c = b.c0; c < b.c1; ++c) table(r, c) = built(r, c);
}

index_t label_rows_above(const tiled_map& t) { return t.rules().scorer->label_rows_read(t.q.h); }

void score_from_table(const tiled_map& t, raster_view<const double> table, label_view labels,
                      const window_valid_counts& valid, raster_view<double> out, worker_pool& pool)
{
    const scored_positions p = windows_of(t, block_of(out));
    if (!p.empty()) t.rules().scorer->score(labels, table, valid, p, out, pool);
}

void score_from_table(const tiled_map& t, raster_view<const double> table, label_view labels,
                      raster_view<double> out)
{
    const cell_block halo = window_cells(t, block_of(out));
    if (halo.empty()) return;
    pool_of on(t, nullptr);
    const window_valid_counts valid = valid_counts_of(t, labels, halo, on.get());
    if (sums_exactly(t)) {
        exact_value_table sums = exact_table_of(t, halo, 0, halo.r1 - halo.r0);
        sums.start(halo.r0, halo.r1, on);
        sums.build(table, halo, nullptr, nullptr, on);
        score_exact(t, sums, labels, valid, out, on);
        return;
    }
    score_from_table(t, table, labels, valid, out, on);
}

void ombrel_scores(const tiled_map& t, label_view labels, const window_valid_counts& valid,
                   const double* carry_in, raster_view<double> out, double* carry_out, worker_pool& pool)
{
    const cell_block b = block_of(out);
    const auto [r0, r1] = window_rows(t, b);
    const scored_positions p = windows_of(t, b);
    if (p.empty()) {
        if (carry_out) std::copy(carry_in, carry_in + (r1 - r0), carry_out);
        return;
    }
    // A row's first window starts its sweep; later tiles go on from the carry.
    const bool first = p.j0 == t.rules().positions.j0;
    t.rules().ombrel->score(labels, valid, p, first ? nullptr : carry_in + (p.i0 - r0),
                            carry_out ? carry_out + (p.i0 - r0) : nullptr, out, pool);
}

void ombrel_scores(const tiled_map& t, label_view labels, const double* carry_in,
                   raster_view<double> out, double* carry_out)
{
    const cell_block halo = window_cells(t, block_of(out));
    pool_of on(t, nullptr);
    const window_valid_counts valid = halo.empty() ? valid_counts_over(t.run(), t.M, t.N, halo, 0)
                                                   : valid_counts_of(t, labels, halo, on.get());
    ombrel_scores(t, labels, valid, carry_in, out, carry_out, on);
}

void count_points(const tiled_map& t, label_view labels, cell_block b, const std::uint64_t* draw_start,
                  index_t* points, worker_pool* pool)
{
    pool_of on(t, pool);
    count_sampled_rows(t, b, points, [&](cell_block d, index_t* n) {
        rw::count_points(labels, t.rules().thresholds.data(), t.q.seed, d, draw_start + (d.r0 - b.r0), n, on);
    });
}

point_totals totals_of(const tiled_map& t, index_t draws, index_t points)
{
    return {draws, points, points > 0 ? probe_count(t.q.probes_per_cell, t.M, t.N, points) : 0};
}

std::uint64_t thinning_start(const point_totals& totals)
{
    return rw::thinning_start(static_cast<std::uint64_t>(totals.draws),
                              static_cast<std::uint64_t>(totals.points),
                              static_cast<std::uint64_t>(totals.probes));
}

void probe_points(const tiled_map& t, label_view labels, cell_block b, const std::uint64_t* draw_start,
                  const index_t* first_point, const point_probes* probes, point_row* rows,
                  worker_pool& pool)
{
    for (index_t r = b.r0; r < b.r1; ++r) rows[r - b.r0] = {};
    const cell_block d = sampled_cells(t, b);
    if (d.empty() || !probes) return;
    const index_t n = d.r1 - d.r0, at = d.r0 - b.r0;
    std::vector<std::uint64_t> firsts(first_point + at, first_point + at + n);
    probe_rows(labels, t.rules().thresholds.data(), t.q.seed, d, draw_start + at, firsts.data(), *probes,
               rows + at, pool);
}

void thin_points(const tiled_map& t, const point_row* rows, index_t r0, index_t r1,
                 const std::uint64_t* thin_start, raster_view<std::int32_t> points, worker_pool& pool)
{
    pool.parallel_for(r1 - r0, [&](index_t lo, index_t hi) {
        for (index_t k = lo; k < hi; ++k) {
            pool.check_interrupt();
            crt_rand gen(t.q.seed);
            gen.discard(thin_start[k]);
            const point_row& row = rows[k];
            for (std::size_t m = 0; m < row.cols.size(); ++m)
                if (survives(row.keep[m], gen)) points(r0 + k, row.cols[m]) = 1;
        }
    });
}

void keep_thresholds(const tiled_map& t, label_view labels, cell_block b,
                     const std::uint64_t* draw_start, const index_t* first_point,
                     const point_totals& totals, raster_view<std::int32_t> keep, index_t* thinning)
{
    pool_of on(t, nullptr);
    std::optional<point_probes> probes;
    if (totals.points > 0) probes.emplace(t.q, totals.draws, totals.points, totals.probes);
    std::vector<point_row> rows(static_cast<std::size_t>(b.r1 - b.r0));
    probe_points(t, labels, b, draw_start, first_point, probes ? &*probes : nullptr, rows.data(), on);
    for (index_t r = b.r0; r < b.r1; ++r) {
        const point_row& points = rows[r - b.r0];
        for (index_t c = b.c0; c < b.c1; ++c) keep(r, c) = -2;
        for (std::size_t m = 0; m < points.cols.size(); ++m) keep(r, points.cols[m]) = points.keep[m];
        thinning[r - b.r0] = thinning_draws(points);
    }
}

void thin(const tiled_map& t, raster_view<const std::int32_t> keep, const std::uint64_t* thin_start,
          raster_view<std::int32_t> points)
{
    // The points of each row, as probe_points gives them, then thinned.
    std::vector<point_row> rows(static_cast<std::size_t>(keep.rows));
    for (index_t r = keep.row0; r < keep.row_end(); ++r)
        for (index_t c = keep.col0; c < keep.col0 + keep.cols; ++c) {
            points(r, c) = 0;
            if (keep(r, c) == -2) continue;
            rows[r - keep.row0].cols.push_back(c);
            rows[r - keep.row0].keep.push_back(keep(r, c));
        }
    pool_of on(t, nullptr);
    thin_points(t, rows.data(), keep.row0, keep.row_end(), thin_start, points, on);
}

void score_density(const tiled_map& t, raster_view<const std::int32_t> point_table,
                   const window_valid_counts& valid, raster_view<double> out, worker_pool& pool)
{
    write_means(point_table, valid, windows_of(t, block_of(out)), out, pool);
}

void score_density(const tiled_map& t, raster_view<const std::int32_t> points, label_view labels,
                   raster_view<double> out)
{
    const cell_block halo = window_cells(t, block_of(out));
    if (halo.empty()) return;
    pool_of on(t, nullptr);
    summed_area_strip<std::int32_t> density(halo, 0, halo.r1 - halo.r0);
    density.start(halo.r0, halo.r1, on);
    density.build(halo.r0, halo.r1, [&](index_t c, index_t r0, index_t r1, std::int32_t* dst) {
        for_each_down(points, c, r0, r1, [&](index_t k, std::int32_t v) { dst[k] = v; });
    }, on);
    score_density(t, density.view(), valid_counts_of(t, labels, halo, on.get()), out, on);
}

} // namespace rw::tiles
