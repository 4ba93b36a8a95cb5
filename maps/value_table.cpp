#include "value_table.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>


namespace rw {
namespace {

class mean_scorer final : public window_scorer {
public:
    explicit mean_scorer(const map_request& run) : exact_(run.arithmetic == arithmetic::exact) {}
    // Exact sums may slide over the labels of a window's every row.
    index_t label_rows_read(index_t h) const override { return exact_ ? h - 1 : 0; }
    void score(label_view, raster_view<const double> t, const window_valid_counts& valid,
               const scored_positions& p, raster_view<double> out, worker_pool& pool) override
    {
        write_means(t, valid, p, out, pool);
    }
    void score_exact(label_view labels, const exact_value_table& sums, const window_valid_counts& valid,
                     const scored_positions& p, raster_view<double> out, worker_pool& pool) override
    {
        sums.write_means(labels, valid, p, out, pool);
    }

private:
    bool exact_;
};

} // namespace

std::unique_ptr<window_scorer> make_mean_scorer(const map_request& run)
{
    return std::make_unique<mean_scorer>(run);
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

exact_value_table::exact_value_table(const value_scale& scale, const map_request& run, cell_block b, index_t keep,
                                     index_t strip_rows, sliding slide)
    : scale_(&scale), block_(b), K_(run.K), run_table_(run.table)
{
    if (slide != sliding::none && scale.digits() == 1 && scale.width() <= sliding_sums_value_bits &&
        run.h < sliding_sums_most_cells && run.w < sliding_sums_most_cells / std::max<index_t>(run.h, 1)) {
        std::vector<std::int64_t> words;
        for (index_t k = 0; k < K_; ++k) {
            const double v = run.table[k];
            words.push_back(std::isfinite(v) ? static_cast<std::int64_t>(scale.digit(v, 0)) : 0);
        }
        slide_ = slide;
        if (slide == sliding::over_labels) {
            sliding_.emplace(words.data(), K_);
            return;
        }
        sliding_.emplace(words.data(), K_, b, keep, strip_rows);
        for (index_t k = 0; k < K_; ++k) class_ids_.push_back(static_cast<std::int32_t>(k + 1));
        return;
    }
    // A sampled class that is never kept (NaN, infinities, values below the
    // chance of a draw) gets digits that no cell adds.
    class_digits_.resize(static_cast<std::size_t>(scale.digits() * K_));
    for (int d = 0; d < scale.digits(); ++d)
        for (index_t k = 0; k < K_; ++k) {
            const double v = run.table[k];
            class_digits_[d * K_ + k] = std::isfinite(v) ? scale.digit(v, d) : 0;
        }
    digit_tables_.reserve(static_cast<std::size_t>(scale.digits()));
    for (int d = 0; d < scale.digits(); ++d) digit_tables_.emplace_back(b, keep, strip_rows);
}

void exact_value_table::start(index_t a, index_t b, worker_pool& pool)
{
    if (sliding_) sliding_->start(a, b, pool);
    for (auto& table : digit_tables_) table.start(a, b, pool);
}

void exact_value_table::build(raster_view<const double> values, cell_block b, const wide_sum* left,
                              wide_sum* right, worker_pool& pool)
{
    const value_scale& scale = *scale_;
    if (slide_ == sliding::over_labels) return; // the labels say it all
    if (slide_ == sliding::over_kept_cells) {
        // Each value is one of the classes' (or 0, adding nothing): its class
        // is found among them by its bits.
        std::vector<std::pair<std::uint64_t, std::int32_t>> classes;
        for (index_t k = 0; k < K_; ++k)
            classes.emplace_back(std::bit_cast<std::uint64_t>(run_table_[k]), static_cast<std::int32_t>(k + 1));
        std::sort(classes.begin(), classes.end());
        build_classes(b, [&](index_t c, index_t r0, index_t r1, std::int32_t* dst) {
            for_each_down(values, c, r0, r1, [&](index_t k, double v) {
                const std::pair<std::uint64_t, std::int32_t> key{std::bit_cast<std::uint64_t>(v), 0};
                const auto at = std::lower_bound(classes.begin(), classes.end(), key);
                dst[k] = at != classes.end() && at->first == key.first ? at->second : 0;
            });
        }, pool);
        return;
    }
    build(b, [&](int d, index_t c, index_t r0, index_t r1, wide_sum* dst) {
        for_each_down(values, c, r0, r1, [&](index_t k, double v) { dst[k] = scale.digit(v, d); });
    }, left, right, pool);
}

void exact_value_table::write_means(label_view labels, const window_valid_counts& valid, const scored_positions& p,
                                    raster_view<double> out, worker_pool& pool) const
{
    if (p.empty()) return;
    const window_layout& layout = valid.layout();
    const index_t di = centre_offset(layout.h), dj = centre_offset(layout.w);
    const int D = digits();
    const value_scale& scale = *scale_;
    const double not_scored = std::numeric_limits<double>::quiet_NaN();
    if (sliding_) {
        // Without nodata or clipping every window has the same cells, and
        // when they are scored a run's means go straight to the output's
        // column.
        const index_t cells_of_all = layout.cells;
        const bool straight_out = !valid.varies() && valid.scores(cells_of_all) && out.row_step == 1;
        const std::vector<double> every(window_run, static_cast<double>(cells_of_all));
        for_each_window_run(labels, p, layout, [&](index_t i, index_t j, const std::uint64_t* high,
                                                   const std::uint64_t* low, index_t n) {
            if (straight_out) {
                scale.means_of_split_sums(high, low, every.data(), &out(i + di, j + dj), n);
                return;
            }
            double cells[window_run], means[window_run];
            bool scored[window_run];
            // Windows not scored divide by 1, and are then written over.
            for (index_t k = 0; k < n; ++k) {
                const index_t count = valid.count(i + k, j);
                scored[k] = valid.scores(count);
                cells[k] = scored[k] ? static_cast<double>(count) : 1.0;
            }
            scale.means_of_split_sums(high, low, cells, means, n);
            for (index_t k = 0; k < n; ++k) out(i + k + di, j + dj) = scored[k] ? means[k] : not_scored;
        }, pool);
        return;
    }
    if (D == 1) { // most tables: one word a window, read down the columns
        for_each_window_sum_run(digit_tables_[0].view(), p, layout,
                                [&](index_t i, index_t j, const wide_sum* sums, index_t n) {
            index_t cells[window_run];
            bool scored[window_run];
            double means[window_run];
            // Windows not scored divide by 1, and are then written over.
            for (index_t k = 0; k < n; ++k) {
                const index_t count = valid.count(i + k, j);
                scored[k] = valid.scores(count);
                cells[k] = scored[k] ? count : 1;
            }
            scale.means_of_words(sums, cells, means, n);
            for (index_t k = 0; k < n; ++k) out(i + k + di, j + dj) = scored[k] ? means[k] : not_scored;
        }, pool);
        return;
    }
    std::vector<footprint_sums<wide_sum>> readers;
    if (!layout.rectangle)
        for (int d = 0; d < D; ++d) readers.push_back(window_sums(d, layout));
    pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
        std::vector<wide_sum> sums(static_cast<std::size_t>(D));
        for (index_t j = p.j0 + lo; j < p.j0 + hi; ++j)
            for (index_t i = p.i0; i < p.i_end; ++i) {
                for (int d = 0; d < D; ++d) sums[d] = layout.rectangle ? window_sum(d, i, j, layout) : readers[d](i, j);
                const index_t cells = valid.count(i, j);
                out(i + di, j + dj) = valid.scores(cells) ? scale.mean(sums.data(), cells) : not_scored;
            }
    });
}

} // namespace rw
