#include "value_table.hpp"

#include <limits>


namespace rw {
namespace {

class mean_scorer final : public window_scorer {
public:
    explicit mean_scorer(const map_request& run) : h_(run.h), w_(run.w) {}
    void score(label_view, raster_view<const double> t, const window_valid_counts& valid,
               const scored_positions& p, raster_view<double> out, worker_pool& pool) override
    {
        write_means(t, valid, p, h_, w_, out, pool);
    }

private:
    index_t h_, w_;
};

} // namespace

std::unique_ptr<window_scorer> make_mean_scorer(const map_request& run)
{
    return std::make_unique<mean_scorer>(run);
}

cell_values::cell_values(const map_request& run, const std::int32_t* thresholds)
    : table_(run.table), thresholds_(thresholds), seed_(run.seed)
{
}

void cell_values::place_rows(index_t r0, const std::uint64_t* start, index_t n)
{
    first_row_ = r0;
    rows_.assign(static_cast<std::size_t>(n), crt_rand(seed_));
    for (index_t k = 0; k < n; ++k) rows_[k].discard(start[k]);
}

} // namespace rw

namespace rw {

value_scale exact_scale_of(const map_request& run, const std::int32_t* thresholds)
{
    std::vector<double> added;
    for (index_t k = 0; k < run.K; ++k)
        if (!thresholds || thresholds[k] > 0) added.push_back(run.table[k]);
    const index_t most = run.h > 0 && run.w <= std::numeric_limits<index_t>::max() / run.h
                             ? run.h * run.w
                             : std::numeric_limits<index_t>::max();
    return value_scale(added.data(), static_cast<index_t>(added.size()), most);
}

exact_value_table::exact_value_table(const value_scale& scale, cell_block b, index_t keep, index_t strip_rows)
    : scale_(&scale), block_(b)
{
    digit_tables_.reserve(static_cast<std::size_t>(scale.digits()));
    for (int d = 0; d < scale.digits(); ++d) digit_tables_.emplace_back(b, keep, strip_rows);
}

void exact_value_table::start(index_t a, index_t b, worker_pool& pool)
{
    for (auto& table : digit_tables_) table.start(a, b, pool);
}

void exact_value_table::build(raster_view<const double> values, cell_block b, const wide_sum* left,
                              wide_sum* right, worker_pool& pool)
{
    const index_t rows = b.r1 - b.r0;
    const bool carried = b.c0 > block_.c0;
    for (int d = 0; d < digits(); ++d) {
        const value_scale& scale = *scale_;
        digit_tables_[d].build(b.r0, b.r1, [&](index_t c, index_t r0, index_t r1, wide_sum* dst) {
            for_each_down(values, c, r0, r1, [&](index_t k, double v) { dst[k] = scale.digit(v, d); });
        }, pool, carried ? left + d * rows : nullptr, right ? right + d * rows : nullptr, {b.c0, b.c1});
    }
}

void exact_value_table::write_means(const window_valid_counts& valid, const scored_positions& p, index_t h,
                                    index_t w, raster_view<double> out, worker_pool& pool) const
{
    if (p.empty()) return;
    const index_t di = centre_offset(h), dj = centre_offset(w);
    const int D = digits();
    const value_scale& scale = *scale_;
    const double not_scored = std::numeric_limits<double>::quiet_NaN();
    if (D == 1) { // most tables: one word a window, read down the columns
        const raster_view<const wide_sum> t = digit_tables_[0].view();
        pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
            for (index_t j = p.j0 + lo; j < p.j0 + hi; ++j) {
                const wide_sum* left = &t(p.i0 - 1, j - 1);
                const wide_sum* right = &t(p.i0 - 1, j + w - 1);
                double* centre = &out(p.i0 + di, j + dj);
                for (index_t i = p.i0; i < p.i_end; ++i) {
                    const index_t top = i - p.i0, bottom = top + h, cells = valid.count(i, j);
                    const wide_sum sum = box_sum(right[bottom], right[top], left[bottom], left[top]);
                    centre[top * out.row_step] = valid.scores(cells) ? scale.mean_of_word(sum, cells) : not_scored;
                }
            }
        });
        return;
    }
    pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
        std::vector<wide_sum> sums(static_cast<std::size_t>(D));
        for (index_t j = p.j0 + lo; j < p.j0 + hi; ++j)
            for (index_t i = p.i0; i < p.i_end; ++i) {
                for (int d = 0; d < D; ++d) sums[d] = digit_tables_[d].window_sum(i, j, h, w);
                const index_t cells = valid.count(i, j);
                out(i + di, j + dj) = valid.scores(cells) ? scale.mean(sums.data(), cells) : not_scored;
            }
    });
}

} // namespace rw
