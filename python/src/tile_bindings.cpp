// The core's tile functions for the dask front end. A map travels between
// tasks as a TileJob (its request and the raster's size, with named fields,
// picklable for dask.distributed and process pools), and every tile or halo
// as an array with the raster coordinates of its first cell.
#include "interrupts.hpp"
#include "numpy_views.hpp"

#include "maps/tiles.hpp"

#include "kernels/sampling.hpp"

#include <pybind11/stl.h>

#include <vector>

namespace pyrw {
namespace {

using rw::index_t;

// A map over an M x N raster as the tasks of a graph see it. The table is
// the job's own read-only copy, so a graph computes what was asked when it
// was built, whatever later happens to the caller's array.
struct tile_job {
    std::string map;
    table_array table;
    // As the Python layer gives it, (h, w, shape, inner, outer, cell_height,
    // cell_width), for pickling; tasks read `geometry`, which needs no GIL.
    py::tuple window;
    window_args geometry;
    index_t h, w, M, N;
    std::int32_t probes_per_cell;
    std::uint32_t seed;
    bool nodata;
    std::string policy;
    double min_valid;
    std::string arithmetic;
    std::string edges;

    tile_job(std::string map_, const table_array& table_, py::tuple window_, index_t M_, index_t N_,
             std::int32_t probes_per_cell_, std::uint32_t seed_, bool nodata_, std::string policy_,
             double min_valid_, std::string arithmetic_, std::string edges_)
        : map(std::move(map_)), table(owned_copy(table_)), window(std::move(window_)), geometry(window_of(window)),
          h(geometry.h), w(geometry.w), M(M_), N(N_), probes_per_cell(probes_per_cell_), seed(seed_), nodata(nodata_),
          policy(std::move(policy_)), min_valid(min_valid_), arithmetic(std::move(arithmetic_)),
          edges(std::move(edges_))
    {
        request(); // refuses an unknown map, window, policy, arithmetic or edge rule when the graph is built
    }

    rw::map_request request() const
    {
        rw::map_request q = request_of(map, table, geometry, probes_per_cell, seed);
        q.nodata = nodata;
        q.policy = policy_of(policy);
        q.min_valid = min_valid;
        q.arithmetic = arithmetic_of(arithmetic);
        q.edges = edges_of(edges);
        return q;
    }

    // Every field in constructor order: the pickled state and dask's token.
    py::tuple fields() const
    {
        return py::make_tuple(map, table, window, M, N, probes_per_cell, seed, nodata, policy, min_valid,
                              arithmetic, edges);
    }

    static table_array owned_copy(const table_array& t)
    {
        if (t.ndim() != 1) throw py::value_error("the class table must be 1-D");
        table_array copy(t.shape(0));
        std::copy(t.data(), t.data() + t.shape(0), copy.mutable_data());
        copy.attr("setflags")(py::arg("write") = false);
        return copy;
    }
};

// The job's request with an interrupt hook for a task that starts now; the
// job (its table) must outlive it.
rw::tiles::tiled_map tiled_of(const tile_job& job)
{
    return {job.request(), job.M, job.N, interrupt_hook()};
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
py::object check_tile(const tile_job& job, const py::array& labels, index_t r0, index_t c0)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    return problem_tuple(rw::validate(t.q, t.M, t.N, placed<const std::int32_t>(labels, r0, c0)));
}

py::tuple window_cells(const tile_job& job, index_t r0, index_t r1, index_t c0, index_t c1)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    const rw::cell_block b = rw::tiles::window_cells(t, {r0, r1, c0, c1});
    return py::make_tuple(b.r0, b.r1, b.c0, b.c1);
}

// The top rows (i0, i_end) of the windows centred in rows r0 .. r1-1, in
// whole-raster coordinates: the rows an Ombrel carry holds one score for.
py::tuple window_rows(const tile_job& job, index_t r0, index_t r1)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    const rw::scored_positions p = rw::tiles::windows_of(t, {r0, r1, 0, job.N});
    if (p.empty()) return py::make_tuple(0, 0);
    return py::make_tuple(p.i0, p.i_end);
}

py::array_t<std::int64_t> count_draws(const tile_job& job, const py::array& labels, index_t r0, index_t c0)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    auto n = new_rows<std::int64_t>(labels.shape(0));
    py::gil_scoped_release free;
    rw::tiles::count_draws(t, placed<const std::int32_t>(labels, r0, c0), block_of(labels, r0, c0),
                           n.mutable_data());
    return n;
}

py::tuple value_table(const tile_job& job, const py::array& labels, index_t r0, index_t c0,
                      const u64_array& draw_start, const f64_array& left, const f64_array& top)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    const rw::cell_block b = block_of(labels, r0, c0);
    py::array_t<double> table = zeros(b.r1 - b.r0, b.c1 - b.c0);
    auto right = new_rows<double>(b.r1 - b.r0);
    {
        py::gil_scoped_release free;
        rw::raster_view<double> v = rw::row_major(table.mutable_data(), b.r1 - b.r0, b.c1 - b.c0);
        v.row0 = r0;
        v.col0 = c0;
        rw::tiles::value_table(t, placed<const std::int32_t>(labels, r0, c0), b, draw_start.data(),
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

py::array_t<double> score_from_table(const tile_job& job, const py::array& table,
                                     const py::array& labels, index_t h0, index_t w0, index_t r0,
                                     index_t c0, index_t rows, index_t cols)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    py::array_t<double> out = zeros(rows, cols);
    py::gil_scoped_release free;
    rw::tiles::score_from_table(t, placed<const double>(table, h0, w0),
                                placed<const std::int32_t>(labels, h0, w0), out_view(out, r0, c0));
    return out;
}

py::tuple ombrel_scores(const tile_job& job, const py::array& labels, index_t h0, index_t w0,
                        const f64_array& carry_in, index_t r0, index_t c0, index_t rows, index_t cols)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    const rw::scored_positions p = rw::tiles::windows_of(t, {r0, r0 + rows, 0, job.N});
    if (carry_in.ndim() != 1 || carry_in.shape(0) != (p.empty() ? 0 : p.i_end - p.i0))
        throw py::value_error("an Ombrel carry holds one score per row of windows of the tile");
    py::array_t<double> out = zeros(rows, cols);
    auto carry_out = new_rows<double>(carry_in.shape(0));
    {
        py::gil_scoped_release free;
        rw::tiles::ombrel_scores(t, placed<const std::int32_t>(labels, h0, w0), carry_in.data(),
                                 out_view(out, r0, c0), carry_out.mutable_data());
    }
    return py::make_tuple(out, carry_out);
}

py::array_t<std::int64_t> count_points(const tile_job& job, const py::array& labels, index_t r0,
                                       index_t c0, const u64_array& draw_start)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    auto n = new_rows<std::int64_t>(labels.shape(0));
    py::gil_scoped_release free;
    rw::tiles::count_points(t, placed<const std::int32_t>(labels, r0, c0), block_of(labels, r0, c0),
                            draw_start.data(), n.mutable_data());
    return n;
}

// Where each row starts drawing when counts run on from start: (positions,
// total), as every tiled run takes its rows' generator positions.
py::tuple row_draw_positions(const i64_array& per_row, std::uint64_t start)
{
    if (per_row.ndim() != 1) throw py::value_error("per-row counts must be 1-D");
    py::array_t<std::uint64_t> at(per_row.shape(0));
    static_assert(sizeof(std::int64_t) == sizeof(index_t));
    const std::uint64_t total = rw::draw_positions(reinterpret_cast<const index_t*>(per_row.data()),
                                                   per_row.shape(0), start, at.mutable_data());
    return py::make_tuple(at, total);
}

// The same over a grid of tiles, counts[a][b] holding the per-row counts
// of tile (a, b): generator positions run along each raster row across the
// tiles of its tile row, then down, as the draws of a whole map do. Returns
// (positions[a][b], total).
py::tuple grid_draw_positions(const std::vector<std::vector<i64_array>>& counts, std::uint64_t start)
{
    py::list positions;
    std::uint64_t next = start;
    std::vector<index_t> per_row; // one tile row's counts in draw order
    std::vector<std::uint64_t> at;
    for (const std::vector<i64_array>& tiles : counts) {
        const auto C = static_cast<index_t>(tiles.size());
        const index_t rows = C > 0 ? tiles[0].shape(0) : 0;
        for (const i64_array& n : tiles)
            if (n.ndim() != 1 || n.shape(0) != rows)
                throw py::value_error("the tiles of a tile row must count the same rows");
        per_row.resize(static_cast<std::size_t>(rows * C));
        at.resize(per_row.size());
        for (index_t b = 0; b < C; ++b)
            for (index_t k = 0; k < rows; ++k) per_row[k * C + b] = tiles[b].data()[k];
        next += rw::draw_positions(per_row.data(), rows * C, next, at.data());
        py::list row;
        for (index_t b = 0; b < C; ++b) {
            py::array_t<std::uint64_t> tile_at(rows);
            for (index_t k = 0; k < rows; ++k) tile_at.mutable_data()[k] = at[k * C + b];
            row.append(tile_at);
        }
        positions.append(row);
    }
    return py::make_tuple(positions, next - start);
}

// Either form: a grid is a list (or tuple) of tile rows, each a list of
// arrays; anything else is one array of per-row counts. (Overloads cannot
// tell them apart: a grid of equal tiles also converts into a 3-D array.)
py::tuple draw_positions(const py::object& counts, std::uint64_t start)
{
    const auto is_sequence = [](const py::handle& x) {
        return py::isinstance<py::list>(x) || py::isinstance<py::tuple>(x);
    };
    if (is_sequence(counts) && py::len(counts) > 0 && is_sequence(counts[py::int_(0)]))
        return grid_draw_positions(counts.cast<std::vector<std::vector<i64_array>>>(), start);
    return row_draw_positions(counts.cast<i64_array>(), start);
}

std::uint64_t thin_start(index_t draws, index_t points, index_t probes)
{
    return rw::tiles::thinning_start({draws, points, probes});
}

index_t probe_count(const tile_job& job, index_t draws, index_t points)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    return rw::tiles::totals_of(t, draws, points).probes;
}

py::tuple keep_thresholds(const tile_job& job, const py::array& labels, index_t h0, index_t w0,
                          index_t r0, index_t c0, index_t rows, index_t cols,
                          const u64_array& draw_start, const i64_array& first_point, index_t draws,
                          index_t points, index_t probes)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    py::array_t<std::int32_t> keep({rows, cols});
    auto thinning = new_rows<std::int64_t>(rows);
    {
        py::gil_scoped_release free;
        rw::raster_view<std::int32_t> v = rw::row_major(keep.mutable_data(), rows, cols);
        v.row0 = r0;
        v.col0 = c0;
        static_assert(sizeof(std::int64_t) == sizeof(index_t));
        rw::tiles::keep_thresholds(t, placed<const std::int32_t>(labels, h0, w0),
                                   {r0, r0 + rows, c0, c0 + cols}, draw_start.data(),
                                   reinterpret_cast<const index_t*>(first_point.data()),
                                   {draws, points, probes}, v, thinning.mutable_data());
    }
    return py::make_tuple(keep, thinning);
}

py::array_t<std::int32_t> thin(const tile_job& job, const py::array& keep, index_t r0, index_t c0,
                               const u64_array& thin_start)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    py::array_t<std::int32_t> points({keep.shape(0), keep.shape(1)});
    py::gil_scoped_release free;
    rw::tiles::thin(t, placed<const std::int32_t>(keep, r0, c0), thin_start.data(),
                    out_view(points, r0, c0));
    return points;
}

py::array_t<double> score_density(const tile_job& job, const py::array& points,
                                  const py::array& labels, index_t h0, index_t w0, index_t r0,
                                  index_t c0, index_t rows, index_t cols)
{
    const rw::tiles::tiled_map t = tiled_of(job);
    py::array_t<double> out = zeros(rows, cols);
    py::gil_scoped_release free;
    rw::tiles::score_density(t, placed<const std::int32_t>(points, h0, w0),
                             placed<const std::int32_t>(labels, h0, w0), out_view(out, r0, c0));
    return out;
}

} // namespace

void add_tile_functions(py::module_& m)
{
    py::class_<tile_job>(m, "TileJob", "A map over an M x N raster, as the tasks of a dask graph read it.")
        .def(py::init<std::string, const table_array&, py::tuple, index_t, index_t, std::int32_t,
                      std::uint32_t, bool, std::string, double, std::string, std::string>(),
             py::arg("map"), py::arg("table"), py::arg("window"), py::arg("M"), py::arg("N"),
             py::arg("probes_per_cell"), py::arg("seed"), py::arg("nodata") = false,
             py::arg("policy") = "strict", py::arg("min_valid") = rw::default_min_valid,
             py::arg("arithmetic") = "exact", py::arg("edges") = "inside")
        .def_readonly("map", &tile_job::map)
        .def_readonly("table", &tile_job::table)
        .def_readonly("window", &tile_job::window)
        .def_readonly("h", &tile_job::h)
        .def_readonly("w", &tile_job::w)
        .def_readonly("M", &tile_job::M)
        .def_readonly("N", &tile_job::N)
        .def_readonly("probes_per_cell", &tile_job::probes_per_cell)
        .def_readonly("seed", &tile_job::seed)
        .def_readonly("nodata", &tile_job::nodata)
        .def_readonly("policy", &tile_job::policy)
        .def_readonly("min_valid", &tile_job::min_valid)
        .def_readonly("arithmetic", &tile_job::arithmetic)
        .def_readonly("edges", &tile_job::edges)
        .def("__dask_tokenize__", &tile_job::fields)
        .def("__repr__", [](const tile_job& j) {
            return "TileJob(map='" + j.map + "', K=" + std::to_string(j.table.shape(0)) + ", window=" +
                   j.window[2].cast<std::string>() + " " + std::to_string(j.h) + "x" + std::to_string(j.w) + ", raster=" + std::to_string(j.M) +
                   "x" + std::to_string(j.N) + ", edges='" + j.edges + "')";
        })
        .def(py::pickle([](const tile_job& j) { return j.fields(); }, [](const py::tuple& f) {
            if (f.size() != 12) throw py::value_error("a pickled TileJob holds 12 fields");
            return tile_job(f[0].cast<std::string>(), f[1].cast<table_array>(), f[2].cast<py::tuple>(),
                            f[3].cast<index_t>(), f[4].cast<index_t>(), f[5].cast<std::int32_t>(),
                            f[6].cast<std::uint32_t>(), f[7].cast<bool>(), f[8].cast<std::string>(),
                            f[9].cast<double>(), f[10].cast<std::string>(), f[11].cast<std::string>());
        }));
    m.def("tile_check", &check_tile);
    m.def("tile_window_cells", &window_cells);
    m.def("tile_window_rows", &window_rows);
    m.def("tile_count_draws", &count_draws);
    m.def("tile_value_table", &value_table);
    m.def("tile_score_from_table", &score_from_table);
    m.def("tile_ombrel_scores", &ombrel_scores);
    m.def("tile_count_points", &count_points);
    m.def("tile_probe_count", &probe_count);
    m.def("tile_draw_positions", &draw_positions, py::arg("counts"), py::arg("start"),
          "Generator positions from per-row draw counts running on from start: (positions, total), "
          "for a 1-D array of counts or a grid [[tile counts]] of tiles.");
    m.def("tile_thin_start", &thin_start);
    m.def("tile_keep_thresholds", &keep_thresholds);
    m.def("tile_thin", &thin);
    m.def("tile_score_density", &score_density);
}

} // namespace pyrw
