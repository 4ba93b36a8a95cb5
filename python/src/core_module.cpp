// raster_maps._core: the core's maps for numpy arrays. The Python package
// reads and checks the arguments, words the errors and calls these.
#include "numpy_views.hpp"

#include "maps/raster_maps.hpp"

#include <ctime>

namespace pyrw {
namespace {

// Runs one whole map. Returns (out, None), or (None, problem) when the
// request or its labels are invalid, before anything is allocated. The GIL
// is released while the core runs; labels must not change meanwhile.
py::tuple run_map(const std::string& map, const table_array& table, rw::index_t h, rw::index_t w,
                  const py::array& labels, std::int32_t probes_per_cell, std::uint32_t seed,
                  int threads)
{
    const rw::map_request q = request_of(map, table, h, w, probes_per_cell, seed);
    const rw::label_view in = view_of<const std::int32_t>(labels);
    std::optional<rw::request_problem> problem;
    {
        py::gil_scoped_release free;
        problem = rw::validate(q, in);
    }
    if (problem) return py::make_tuple(py::none(), problem_tuple(problem));
    py::array_t<double> out = zeros(in.rows, in.cols);
    const rw::output_view view = rw::row_major(out.mutable_data(), in.rows, in.cols);
    {
        py::gil_scoped_release free;
        rw::run_map(q, in, view, {threads});
    }
    return py::make_tuple(out, py::none());
}

} // namespace

void add_tile_functions(py::module_& m);

} // namespace pyrw

PYBIND11_MODULE(_core, m)
{
    namespace py = pybind11;
    m.doc() = "Moving-window maps over categorical rasters: the compiled core.";
    m.def("run_map", &pyrw::run_map, py::arg("map"), py::arg("table"), py::arg("h"), py::arg("w"),
          py::arg("labels"), py::arg("probes_per_cell"), py::arg("seed"), py::arg("threads"));
    m.def("clock_seed", [] { return static_cast<std::uint32_t>(std::time(nullptr)); },
          "The calendar time in whole seconds, modulo 2**32: the seed of an unseeded call.");
    m.def("default_thread_count", &rw::default_thread_count);
    pyrw::add_tile_functions(m);
}
