// The one layer between numpy and the core: numpy arrays as raster views and
// map requests, read in place. A view's steps are the array's strides, so C
// order, Fortran order and slices are all read without a copy.
#pragma once

#include "maps/catalogue.hpp"
#include "maps/problem_text.hpp"
#include "maps/raster_maps.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

namespace pyrw {

namespace py = pybind11;

using table_array = py::array_t<double, py::array::c_style | py::array::forcecast>;

inline rw::map_kind map_kind_of(const std::string& name)
{
    if (const rw::map_entry* e = rw::find_map(name)) return e->kind;
    throw py::value_error("unknown map '" + name + "'");
}

inline rw::nodata_policy policy_of(const std::string& name)
{
    if (name == "strict") return rw::nodata_policy::strict;
    if (name == "renormalise") return rw::nodata_policy::renormalise;
    throw py::value_error("nodata policy must be 'strict' or 'renormalise'; it is '" + name + "'");
}

// The arithmetic named `name` ("exact" or "plugin"). The Python layer
// checks the name first and words its own error; this one guards the core.
inline rw::arithmetic arithmetic_of(const std::string& name)
{
    if (const rw::arithmetic_entry* a = rw::find_arithmetic(name)) return a->kind;
    throw py::value_error("unknown arithmetic '" + name + "'");
}

// The edge rule named `name` ("inside" or "margin"); the Python layer
// checks the name first and words its own error.
inline rw::edge_rule edges_of(const std::string& name)
{
    if (const rw::edge_entry* e = rw::find_edges(name)) return e->kind;
    throw py::value_error("unknown edge rule '" + name + "'");
}

// A window as the Python layer hands it over: (h, w, shape, inner, outer,
// cell_height, cell_width), h x w the extent (a circle's or annulus's as
// window_extent gives it), shape "rectangle", "circle" or "annulus".
struct window_args {
    rw::index_t h = 0, w = 0;
    rw::footprint footprint;
};

inline window_args window_of(const py::tuple& t)
{
    if (t.size() != 7) throw py::value_error("a window is (h, w, shape, inner, outer, cell_height, cell_width)");
    const auto shape = t[2].cast<std::string>();
    window_args a{t[0].cast<rw::index_t>(), t[1].cast<rw::index_t>(), {}};
    if (shape == "circle") a.footprint.shape = rw::window_shape::circle;
    else if (shape == "annulus") a.footprint.shape = rw::window_shape::annulus;
    else if (shape != "rectangle") throw py::value_error("unknown window shape '" + shape + "'");
    a.footprint.inner = t[3].cast<double>();
    a.footprint.outer = t[4].cast<double>();
    a.footprint.cell_height = t[5].cast<double>();
    a.footprint.cell_width = t[6].cast<double>();
    return a;
}

// The request for a map over window a; the table array must outlive it.
// Reads no Python object, so it may run without the GIL.
inline rw::map_request request_of(const std::string& map, const table_array& table, const window_args& a,
                                  std::int32_t probes_per_cell, std::uint32_t seed)
{
    if (table.ndim() != 1) throw py::value_error("the class table must be 1-D");
    rw::map_request q{map_kind_of(map), table.data(), static_cast<rw::index_t>(table.shape(0)), a.h, a.w};
    q.footprint = a.footprint;
    q.probes_per_cell = probes_per_cell;
    q.seed = seed;
    return q;
}

inline rw::map_request request_of(const std::string& map, const table_array& table, const py::tuple& window,
                                  std::int32_t probes_per_cell, std::uint32_t seed)
{
    return request_of(map, table, window_of(window), probes_per_cell, seed);
}

// Whether a holds T: dtypes are compared by what they mean, not by
// identity (an array that crossed a process boundary has its own dtype
// object).
template <class T>
bool holds(const py::array& a)
{
    return py::isinstance<py::array_t<T>>(a);
}

// A 2-D array of native int32 with strides that are whole elements (the
// Python layer converts anything else once, before it gets here).
template <class T>
rw::raster_view<T> view_of(const py::array& a)
{
    if (a.ndim() != 2 || !holds<std::remove_const_t<T>>(a))
        throw py::type_error("expected a 2-D array of native " + std::to_string(8 * sizeof(T)) +
                             "-bit elements");
    const auto size = static_cast<py::ssize_t>(sizeof(T));
    if (a.strides(0) % size != 0 || a.strides(1) % size != 0)
        throw py::type_error("array strides are not whole elements");
    T* data = static_cast<T*>(const_cast<void*>(a.data()));
    return {data, a.shape(0), a.shape(1), a.strides(0) / size, a.strides(1) / size, 0, 0};
}

// A new rows x cols float64 array in C order, all 0.
inline py::array_t<double> zeros(rw::index_t rows, rw::index_t cols)
{
    py::array_t<double> out({rows, cols});
    std::fill(out.mutable_data(), out.mutable_data() + rows * cols, 0.0);
    return out;
}

// A problem found by validation, as (kind, value, row, col) for the Python
// layer to word; None when there is none.
inline py::object problem_tuple(const std::optional<rw::request_problem>& p)
{
    if (!p) return py::none();
    return py::make_tuple(std::string(rw::problem_name(p->kind)), p->value, p->row, p->col);
}

} // namespace pyrw
