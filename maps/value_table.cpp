#include "value_table.hpp"

#include "catalogue.hpp"

#include "kernels/sampling.hpp"

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

class value_table_map final : public strip_processor {
public:
    value_table_map(const map_request& q, const value_rules& rules, index_t M, index_t N,
                    index_t strip_rows, worker_pool& pool)
        : q_(q), M_(M), N_(N), p_(entry_of(q.map).positions(M, N, q.h, q.w)),
          values_of_(q, rules.sampled), scorer_(rules.make_scorer(q)),
          values_(p_.empty() ? 0 : N, q.h, strip_rows),
          valid_(valid_counts_over(q, {0, M, 0, p_.empty() ? 0 : N}, strip_rows)), pool_(pool),
          sampled_(rules.sampled)
    {
    }

    index_t label_rows_kept() const override { return scorer_->label_rows_read(q_.h); }
    index_t output_rows_ready(index_t have) const override { return output_rows_final(M_, q_.h, have); }

    void advance(label_view band, index_t a, index_t b, output_view out) override
    {
        // With no scored window the output is 0 whatever is drawn.
        if (p_.empty()) return;
        if (sampled_) {
            std::vector<index_t> draws(static_cast<std::size_t>(b - a));
            count_draws(band, values_of_.thresholds().data(), {a, b, 0, N_}, draws.data(), pool_);
            std::vector<std::uint64_t> start(draws.size());
            drawn_ += draw_positions(draws.data(), b - a, drawn_, start.data());
            values_of_.place_rows(a, start.data(), b - a);
        }
        values_.start(a, b, pool_);
        values_.build(a, b, [&](index_t c, index_t r0, index_t r1, double* dst) {
            values_of_(band, c, r0, r1, dst);
        }, pool_);
        valid_.build(band, a, b, pool_);
        const auto [i0, i1] = window_rows_ending_in(p_, a, b, q_.h);
        if (i1 <= i0) return;
        scorer_->score(band, values_.view(), valid_, {i0, i1, p_.j0, p_.j_end}, out, pool_);
    }

private:
    map_request q_;
    index_t M_, N_;
    scored_positions p_;
    cell_values values_of_;
    std::unique_ptr<window_scorer> scorer_;
    summed_area_strip<double> values_;
    window_valid_counts valid_;
    worker_pool& pool_;
    bool sampled_;
    std::uint64_t drawn_ = 0; // draws of the rows before the next strip
};

} // namespace

std::unique_ptr<window_scorer> make_mean_scorer(const map_request& run)
{
    return std::make_unique<mean_scorer>(run);
}

cell_values::cell_values(const map_request& run, bool sampled)
    : table_(run.table), sampled_(sampled), seed_(run.seed),
      thresholds_(sampled ? threshold_table(run.table, run.K) : std::vector<std::int32_t>{})
{
}

void cell_values::place_rows(index_t r0, const std::uint64_t* start, index_t n)
{
    first_row_ = r0;
    rows_.assign(static_cast<std::size_t>(n), crt_rand(seed_));
    for (index_t k = 0; k < n; ++k) rows_[k].discard(start[k]);
}

std::unique_ptr<strip_processor> make_value_table_map(const map_request& run, const value_rules& rules,
                                                      index_t M, index_t N, index_t strip_rows,
                                                      worker_pool& pool)
{
    return std::make_unique<value_table_map>(run, rules, M, N, strip_rows, pool);
}

} // namespace rw
