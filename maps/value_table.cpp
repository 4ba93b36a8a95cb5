#include "value_table.hpp"


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
