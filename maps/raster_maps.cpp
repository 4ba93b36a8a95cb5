#include "raster_maps.hpp"

#include "catalogue.hpp"
#include "map_setup.hpp"

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace rw {

bool usable_class_value(map_kind map, double v) { return usable(entry_of(map).values_used, v); }

std::optional<request_problem> check_request(const map_request& q)
{
    if (q.K < 1) return request_problem{problem_kind::empty_table};
    // One rule for the whole table, chosen once: a table may hold millions.
    const auto first_unusable = [&](auto rule) -> index_t {
        for (index_t k = 0; k < q.K; ++k)
            if (!usable(rule, q.table[k])) return k + 1;
        return 0;
    };
    index_t bad = 0;
    switch (entry_of(q.map).values_used) {
    case usable_values::finite:
        bad = first_unusable(std::integral_constant<usable_values, usable_values::finite>{});
        break;
    case usable_values::below_infinity:
        bad = first_unusable(std::integral_constant<usable_values, usable_values::below_infinity>{});
        break;
    case usable_values::any: break;
    }
    if (bad > 0) return request_problem{problem_kind::non_finite_class_value, bad};
    if (q.footprint.shape != window_shape::rectangle) {
        if (const footprint_fault fault = check_footprint(q.footprint); fault != footprint_fault::none)
            return request_problem{problem_kind::bad_footprint, static_cast<std::int64_t>(fault)};
        const window_extent e = extent_of(q.footprint);
        if (e.h != q.h || e.w != q.w) return request_problem{problem_kind::bad_footprint, 0};
        if (q.arithmetic == arithmetic::plugin) return request_problem{problem_kind::footprint_needs_exact};
    }
    if (q.h <= 0 || q.w <= 0) return request_problem{problem_kind::empty_window};
    if (q.edges == edge_rule::partial && q.arithmetic == arithmetic::plugin)
        return request_problem{problem_kind::edges_need_exact};
    if (entry_of(q.map).takes_probes && q.probes_per_cell < 0)
        return request_problem{problem_kind::bad_probes_per_cell, q.probes_per_cell};
    if ((q.nodata || q.edges == edge_rule::partial) && !(q.min_valid >= 0.0 && q.min_valid <= 1.0))
        return request_problem{problem_kind::bad_min_valid};
    // Valid counts are summed in 32 bits.
    if (q.nodata && q.h > std::numeric_limits<std::int32_t>::max() / q.w)
        return request_problem{problem_kind::window_too_large,
                               q.h > std::numeric_limits<index_t>::max() / q.w
                                   ? std::numeric_limits<index_t>::max()
                                   : q.h * q.w};
    return std::nullopt;
}

std::optional<request_problem> check_request(const map_request& q, index_t M, index_t N)
{
    if (auto problem = check_request(q)) return problem;
    // Under partial edges every window is scored, whatever its size.
    if (q.edges == edge_rule::partial && q.h > std::numeric_limits<index_t>::max() / 4 / q.w)
        return request_problem{problem_kind::window_too_large, std::numeric_limits<index_t>::max()};
    // Scored windows fit in the raster, so h * w cannot overflow here.
    if (!window_positions(q, M, N).empty() &&
        q.h * q.w > entry_of(q.map).most_window_cells)
        return request_problem{problem_kind::window_too_large, q.h * q.w};
    return std::nullopt;
}

int label_passes(const map_request& q, index_t M, index_t N)
{
    const map_entry& map = entry_of(q.map);
    return map.engine == map_engine::thinned_points && !window_positions(q, M, N).empty() ? 2 : 1;
}

void set_footprint(map_request& q, const footprint& f)
{
    q.footprint = f;
    if (f.shape == window_shape::rectangle || check_footprint(f) != footprint_fault::none) return;
    const window_extent e = extent_of(f);
    q.h = e.h;
    q.w = e.w;
}

index_t window_cells(const map_request& q)
{
    if (q.footprint.shape == window_shape::rectangle) // saturated: a window that large scores nothing
        return q.h > 0 && q.w > std::numeric_limits<index_t>::max() / q.h ? std::numeric_limits<index_t>::max()
                                                                          : q.h * q.w;
    return cells_of(spans_of(q.footprint, q.h, q.w));
}

index_t least_valid_cells(const map_request& q)
{
    if (!q.nodata && q.edges != edge_rule::partial) return 0;
    const index_t area = window_cells(q); // below 2^31 with nodata
    if (q.policy == nodata_policy::strict && q.edges != edge_rule::partial) return area;
    const double least = std::ceil(q.min_valid * static_cast<double>(area));
    return std::clamp<index_t>(static_cast<index_t>(least), 1, area);
}

cell_block scored_cells(const map_request& q, index_t M, index_t N)
{
    const scored_positions p = window_positions(q, M, N);
    if (p.empty()) return {0, 0, 0, 0};
    const index_t di = centre_offset(q.h), dj = centre_offset(q.w);
    return {p.i0 + di, p.i_end + di, p.j0 + dj, p.j_end + dj};
}

void fill_unscored(const map_request& q, index_t M, index_t N, raster_view<double> out,
                   double value)
{
    const cell_block s = scored_cells(q, M, N);
    for (index_t r = out.row0; r < out.row_end(); ++r)
        for (index_t c = out.col0; c < out.col0 + out.cols; ++c)
            if (r < s.r0 || r >= s.r1 || c < s.c0 || c >= s.c1) out(r, c) = value;
}

cell_block label_block(const map_request& q, index_t M, index_t N)
{
    return entry_of(q.map).label_block(q, M, N);
}

scored_positions window_positions(const map_request& q, index_t M, index_t N)
{
    if (q.edges == edge_rule::inside) return inside_positions(M, N, q.h, q.w);
    if (q.edges == edge_rule::partial) { // a window centred on every cell
        const index_t di = centre_offset(q.h), dj = centre_offset(q.w);
        return {-di, M - di, -dj, N - dj};
    }
    return entry_of(q.map).positions(M, N, q.h, q.w);
}

std::optional<request_problem> validate(const map_request& q, index_t M, index_t N,
                                        raster_view<const std::int32_t> labels)
{
    if (auto problem = check_request(q, M, N)) return problem;
    if (const auto bad = find_bad_label(labels, label_count(q), label_block(q, M, N)))
        return request_problem{problem_kind::label_out_of_range, bad->value, bad->row, bad->col};
    return std::nullopt;
}

map_setup::map_setup(const map_request& request) : q(request)
{
    if (!q.nodata) return;
    table.assign(request.table, request.table + request.K);
    table.push_back(0.0);
    q.table = table.data();
    q.K = request.K + 1;
}

window_valid_counts valid_counts_over(const map_request& run, index_t M, index_t N, cell_block b, index_t strip_rows)
{
    if (run.edges == edge_rule::partial)
        return window_valid_counts(b, clipped_layout_of(run.footprint, run.h, run.w, M, N), strip_rows,
                                   run.nodata ? static_cast<std::int32_t>(run.K) : 0, least_valid_cells(run),
                                   run.nodata && run.policy == nodata_policy::strict);
    const std::int32_t nodata = run.nodata ? static_cast<std::int32_t>(run.K) : 0;
    return window_valid_counts(b, layout_of(run.footprint, run.h, run.w), strip_rows, nodata, least_valid_cells(run));
}

} // namespace rw
