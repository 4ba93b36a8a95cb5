// The core's tile functions for the dask front end. A map travels between
// tasks as a plain tuple (picklable for dask.distributed):
//   (map, table, h, w, M, N, probes_per_cell, seed, nodata, policy, min_valid)
// and every tile or halo as an array with the raster coordinates of its
// first cell.
#include "interrupts.hpp"
#include "numpy_views.hpp"

#include "maps/tiles.hpp"

#include "kernels/sampling.hpp"

#include <pybind11/stl.h>

namespace pyrw {
namespace {

using rw::index_t;

struct tiled {
    table_array table;
    rw::tiles::tiled_map t;
};

tiled tiled_of(const py::tuple& job)
{
    tiled x{job[1].cast<table_array>(), {}};
    rw::map_request q = request_of(job[0].cast<std::string>(), x.table, job[2].cast<index_t>(),
                                   job[3].cast<index_t>(), job[6].cast<std::int32_t>(),
                                   job[7].cast<std::uint32_t>());
    q.nodata = job[8].cast<bool>();
    q.policy = policy_of(job[9].cast<std::string>());
    q.min_valid = job[10].cast<double>();
    x.t = {q, job[4].cast<index_t>(), job[5].cast<index_t>(), interrupt_hook()};
    return x;
}

template <class T>
rw::raster_view<T> placed(const py::array& a, index_t r0, index_t c0)
{
    rw::raster_view<T> v = view_of<T>(a);
    v.row0 = r0;
    v.col0 = c0;
    return v;
}

template <class T>
py::array_t<T> new_rows(index_t n)
{
    py::array_t<T> a(n);
    std::fill(a.mutable_data(), a.mutable_data() + n, T{});
    return a;
}

rw::cell_block block_of(const py::array& a, index_t r0, index_t c0)
{
    return {r0, r0 + a.shape(0), c0, c0 + a.shape(1)};
}

using u64_array = py::array_t<std::uint64_t, py::array::c_style | py::array::forcecast>;
using i64_array = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;
using f64_array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The problem of the labels of one tile, as (kind, value, row, col), or None.
py::object check_tile(const py::tuple& job, const py::array& labels, index_t r0, index_t c0)
{
    const tiled x = tiled_of(job);
    return problem_tuple(rw::validate(x.t.q, x.t.M, x.t.N, placed<const std::int32_t>(labels, r0, c0)));
}

py::tuple window_cells(const py::tuple& job, index_t r0, index_t r1, index_t c0, index_t c1)
{
    const tiled x = tiled_of(job);
    const rw::cell_block b = rw::tiles::window_cells(x.t, {r0, r1, c0, c1});
    return py::make_tuple(b.r0, b.r1, b.c0, b.c1);
}

py::array_t<std::int64_t> count_draws(const py::tuple& job, const py::array& labels, index_t r0, index_t c0)
{
    const tiled x = tiled_of(job);
    auto n = new_rows<std::int64_t>(labels.shape(0));
    py::gil_scoped_release free;
    rw::tiles::count_draws(x.t, placed<const std::int32_t>(labels, r0, c0), block_of(labels, r0, c0),
                           n.mutable_data());
    return n;
}

py::tuple value_table(const py::tuple& job, const py::array& labels, index_t r0, index_t c0,
                      const u64_array& draw_start, const f64_array& left, const f64_array& top)
{
    const tiled x = tiled_of(job);
    const rw::cell_block b = block_of(labels, r0, c0);
    py::array_t<double> table = zeros(b.r1 - b.r0, b.c1 - b.c0);
    auto right = new_rows<double>(b.r1 - b.r0);
    {
        py::gil_scoped_release free;
        rw::raster_view<double> v = rw::row_major(table.mutable_data(), b.r1 - b.r0, b.c1 - b.c0);
        v.row0 = r0;
        v.col0 = c0;
        rw::tiles::value_table(x.t, placed<const std::int32_t>(labels, r0, c0), b, draw_start.data(),
                               left.data(), top.data(), v, right.mutable_data());
    }
    return py::make_tuple(table, right);
}

// A new C-order array as the view of its cells in the whole raster, its
// first cell being (r0, c0).
template <class T>
rw::raster_view<T> out_view(py::array_t<T>& out, index_t r0, index_t c0)
{
    rw::raster_view<T> v = rw::row_major(out.mutable_data(), out.shape(0), out.shape(1));
    v.row0 = r0;
    v.col0 = c0;
    return v;
}

py::array_t<double> score_from_table(const py::tuple& job, const py::array& table,
                                     const py::array& labels, index_t h0, index_t w0, index_t r0,
                                     index_t c0, index_t rows, index_t cols)
{
    const tiled x = tiled_of(job);
    py::array_t<double> out = zeros(rows, cols);
    py::gil_scoped_release free;
    rw::tiles::score_from_table(x.t, placed<const double>(table, h0, w0),
                                placed<const std::int32_t>(labels, h0, w0), out_view(out, r0, c0));
    return out;
}

py::tuple ombrel_scores(const py::tuple& job, const py::array& labels, index_t h0, index_t w0,
                        const f64_array& carry_in, index_t r0, index_t c0, index_t rows, index_t cols)
{
    const tiled x = tiled_of(job);
    py::array_t<double> out = zeros(rows, cols);
    auto carry_out = new_rows<double>(carry_in.shape(0));
    {
        py::gil_scoped_release free;
        rw::tiles::ombrel_scores(x.t, placed<const std::int32_t>(labels, h0, w0), carry_in.data(),
                                 out_view(out, r0, c0), carry_out.mutable_data());
    }
    return py::make_tuple(out, carry_out);
}

py::array_t<std::int64_t> count_points(const py::tuple& job, const py::array& labels, index_t r0,
                                       index_t c0, const u64_array& draw_start)
{
    const tiled x = tiled_of(job);
    auto n = new_rows<std::int64_t>(labels.shape(0));
    py::gil_scoped_release free;
    rw::tiles::count_points(x.t, placed<const std::int32_t>(labels, r0, c0), block_of(labels, r0, c0),
                            draw_start.data(), n.mutable_data());
    return n;
}

// Where each row starts drawing when counts run on from start: (positions,
// total), as every tiled run takes its rows' generator positions.
py::tuple draw_positions(const i64_array& per_row, std::uint64_t start)
{
    if (per_row.ndim() != 1) throw py::value_error("per-row counts must be 1-D");
    py::array_t<std::uint64_t> at(per_row.shape(0));
    static_assert(sizeof(std::int64_t) == sizeof(index_t));
    const std::uint64_t total = rw::draw_positions(reinterpret_cast<const index_t*>(per_row.data()),
                                                   per_row.shape(0), start, at.mutable_data());
    return py::make_tuple(at, total);
}

std::uint64_t thin_start(index_t draws, index_t points, index_t probes)
{
    return rw::tiles::thinning_start({draws, points, probes});
}

index_t probe_count(const py::tuple& job, index_t draws, index_t points)
{
    const tiled x = tiled_of(job);
    return rw::tiles::totals_of(x.t, draws, points).probes;
}

py::tuple keep_thresholds(const py::tuple& job, const py::array& labels, index_t h0, index_t w0,
                          index_t r0, index_t c0, index_t rows, index_t cols,
                          const u64_array& draw_start, const i64_array& first_point, index_t draws,
                          index_t points, index_t probes)
{
    const tiled x = tiled_of(job);
    py::array_t<std::int32_t> keep({rows, cols});
    auto thinning = new_rows<std::int64_t>(rows);
    {
        py::gil_scoped_release free;
        rw::raster_view<std::int32_t> v = rw::row_major(keep.mutable_data(), rows, cols);
        v.row0 = r0;
        v.col0 = c0;
        static_assert(sizeof(std::int64_t) == sizeof(index_t));
        rw::tiles::keep_thresholds(x.t, placed<const std::int32_t>(labels, h0, w0),
                                   {r0, r0 + rows, c0, c0 + cols}, draw_start.data(),
                                   reinterpret_cast<const index_t*>(first_point.data()),
                                   {draws, points, probes}, v, thinning.mutable_data());
    }
    return py::make_tuple(keep, thinning);
}

py::array_t<std::int32_t> thin(const py::tuple& job, const py::array& keep, index_t r0, index_t c0,
                               const u64_array& thin_start)
{
    const tiled x = tiled_of(job);
    py::array_t<std::int32_t> points({keep.shape(0), keep.shape(1)});
    py::gil_scoped_release free;
    rw::tiles::thin(x.t, placed<const std::int32_t>(keep, r0, c0), thin_start.data(),
                    out_view(points, r0, c0));
    return points;
}

py::array_t<double> score_density(const py::tuple& job, const py::array& points,
                                  const py::array& labels, index_t h0, index_t w0, index_t r0,
                                  index_t c0, index_t rows, index_t cols)
{
    const tiled x = tiled_of(job);
    py::array_t<double> out = zeros(rows, cols);
    py::gil_scoped_release free;
    rw::tiles::score_density(x.t, placed<const std::int32_t>(points, h0, w0),
                             placed<const std::int32_t>(labels, h0, w0), out_view(out, r0, c0));
    return out;
}

} // namespace

void add_tile_functions(py::module_& m)
{
    m.def("tile_check", &check_tile);
    m.def("tile_window_cells", &window_cells);
    m.def("tile_count_draws", &count_draws);
    m.def("tile_value_table", &value_table);
    m.def("tile_score_from_table", &score_from_table);
    m.def("tile_ombrel_scores", &ombrel_scores);
    m.def("tile_count_points", &count_points);
    m.def("tile_probe_count", &probe_count);
    m.def("tile_draw_positions", &draw_positions);
    m.def("tile_thin_start", &thin_start);
    m.def("tile_keep_thresholds", &keep_thresholds);
    m.def("tile_thin", &thin);
    m.def("tile_score_density", &score_density);
}

} // namespace pyrw
