#include "raster_maps.hpp"

#include "dravix.hpp"
#include "marnisa.hpp"
#include "ombrel.hpp"
#include "sulmet.hpp"
#include "varnok.hpp"

#include <cmath>
#include <limits>
#include <memory>

namespace rw {

bool usable_class_value(map_kind map, double v)
{
    switch (map) {
    case map_kind::marnisa: return v != std::numeric_limits<double>::infinity();
    case map_kind::dravix: return true;
    default: return std::isfinite(v);
    }
}

std::optional<request_problem> check_request(const map_request& q)
{
    if (q.K < 1) return request_problem{problem_kind::empty_table};
    for (index_t k = 0; k < q.K; ++k)
        if (!usable_class_value(q.map, q.table[k]))
            return request_problem{problem_kind::non_finite_class_value, k + 1};
    if (q.h <= 0 || q.w <= 0) return request_problem{problem_kind::empty_window};
    if (q.map == map_kind::dravix && q.probes_per_cell < 0)
        return request_problem{problem_kind::bad_probes_per_cell, q.probes_per_cell};
    return std::nullopt;
}

std::optional<request_problem> check_request(const map_request& q, index_t M, index_t N)
{
    if (auto problem = check_request(q)) return problem;
    // Scored windows fit in the raster, so h * w cannot overflow here.
    if (q.map == map_kind::sulmet && !scored_positions_of(M, N, q.h, q.w).empty() &&
        q.h * q.w > most_sulmet_window_cells)
        return request_problem{problem_kind::window_too_large, q.h * q.w};
    return std::nullopt;
}

cell_block label_block(const map_request& q, index_t M, index_t N)
{
    switch (q.map) {
    case map_kind::ombrel: return ombrel_read_block(M, N, q.h, q.w);
    case map_kind::dravix: return sampling_region(M, N, q.h, q.w);
    default: return whole_raster(M, N);
    }
}

std::optional<request_problem> validate(const map_request& q, index_t M, index_t N,
                                        raster_view<const std::int32_t> labels)
{
    if (auto problem = check_request(q, M, N)) return problem;
    if (const auto bad = find_bad_label(labels, q.K, label_block(q, M, N)))
        return request_problem{problem_kind::label_out_of_range, bad->value, bad->row, bad->col};
    return std::nullopt;
}

namespace {

std::unique_ptr<strip_processor> make_map(const map_request& q, index_t M, index_t N,
                                          index_t strip_rows, worker_pool& pool)
{
    switch (q.map) {
    case map_kind::varnok: return std::make_unique<varnok_map>(q, M, N, strip_rows, pool);
    case map_kind::marnisa: return std::make_unique<marnisa_map>(q, M, N, strip_rows, pool);
    case map_kind::sulmet: return std::make_unique<sulmet_map>(q, M, N, strip_rows, pool);
    case map_kind::ombrel: return std::make_unique<ombrel_map>(q, M, N, strip_rows, pool);
    case map_kind::dravix: return std::make_unique<dravix_map>(q, M, N, strip_rows, pool);
    }
    return nullptr;
}

index_t strip_rows_of(const run_options& options, const map_request& q, index_t M, index_t N)
{
    const index_t rows = options.strip_rows > 0 ? options.strip_rows : default_strip_rows(M, N, q.h);
    return std::max<index_t>(1, std::min(rows, M));
}

} // namespace

void run_map(const map_request& q, raster_view<const std::int32_t> labels, raster_view<double> out,
             const run_options& options)
{
    if (auto problem = validate(q, labels)) throw invalid_request(*problem);
    const index_t M = labels.rows, N = labels.cols;
    if (M <= 0 || N <= 0) return;
    worker_pool pool(options.threads, options.interrupted);
    const index_t strip_rows = strip_rows_of(options, q, M, N);
    const auto map = make_map(q, M, N, strip_rows, pool);
    drive_in_memory(*map, labels, out, strip_rows);
}

void stream_map(const map_request& q, index_t M, index_t N, label_source& source,
                output_sink& sink, const run_options& options)
{
    if (auto problem = check_request(q, M, N)) throw invalid_request(*problem);
    if (M <= 0 || N <= 0) return;
    worker_pool pool(options.threads, options.interrupted);
    const index_t strip_rows = strip_rows_of(options, q, M, N);
    const auto map = make_map(q, M, N, strip_rows, pool);
    const cell_block block = label_block(q, M, N);
    drive_stream(*map, M, N, source, sink, strip_rows, [&](raster_view<const std::int32_t> band) {
        if (const auto bad = find_bad_label(band, q.K, block))
            throw invalid_request({problem_kind::label_out_of_range, bad->value, bad->row, bad->col});
    });
}

} // namespace rw
