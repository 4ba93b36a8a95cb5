// raster_maps._core: the core's maps for numpy arrays. The Python package
// reads the arguments and calls these; the core checks them and words the
// problems it finds, in the names the package gives.
#include "interrupts.hpp"
#include "numpy_views.hpp"

#include <pybind11/stl.h>

#include "maps/catalogue.hpp"
#include "maps/class_codes.hpp"
#include "maps/dravix.hpp"
#include "maps/problem_text.hpp"
#include "maps/raster_maps.hpp"

#include <cmath>
#include <ctime>

namespace pyrw {
namespace {

// Runs one whole map. Returns (out, None), or (None, problem) when the
// request or its labels are invalid, before anything is allocated. The GIL
// is released while the core runs; labels must not change meanwhile.
// With nodata, label K + 1 marks cells of no class, and the policy
// ("strict" or "renormalise") and min_valid say what windows holding some
// receive. unscored, when not None, is written to every cell that no window
// scores (NaN marks them as nodata; None leaves the plug-ins' 0).
// arithmetic names how window sums are computed ("exact" or "plugin"),
// edges which cells are scored ("inside" or "margin"). threads goes through the core's rule (0: the default; at most 4 a core).
// Ctrl-C stops the map within a poll of the core (see interrupts.hpp).
py::tuple run_map(const std::string& map, const table_array& table, const py::tuple& window,
                  const py::array& labels, std::int32_t probes_per_cell, std::uint32_t seed,
                  std::int64_t threads, bool nodata, const std::string& policy, double min_valid,
                  std::optional<double> unscored, const std::string& arithmetic, const std::string& edges)
{
    rw::map_request q = request_of(map, table, window, probes_per_cell, seed);
    q.edges = edges_of(edges);
    q.nodata = nodata;
    q.policy = policy_of(policy);
    q.min_valid = min_valid;
    q.arithmetic = arithmetic_of(arithmetic);
    const rw::label_view in = view_of<const std::int32_t>(labels);
    std::optional<rw::request_problem> problem;
    {
        py::gil_scoped_release free;
        problem = rw::validate(q, in);
    }
    if (problem) return py::make_tuple(py::none(), problem_tuple(problem));
    py::array_t<double> out = zeros(in.rows, in.cols);
    const rw::output_view view = rw::row_major(out.mutable_data(), in.rows, in.cols);
    const rw::run_options options{rw::thread_count(threads), 0, interrupt_hook()};
    {
        py::gil_scoped_release free;
        rw::run_map(q, in, view, options);
        if (unscored) rw::fill_unscored(q, in.rows, in.cols, view, *unscored);
    }
    return py::make_tuple(out, py::none());
}

// Codes of any integer dtype recoded to labels: (labels, class values in
// class order, class codes, problem). The table is (code, value) rows; codes
// in nodata become label K + 1. problem is None or (kind, code, row, col).
template <class T>
py::object recode_as(const py::array& codes, const rw::class_codes& classes)
{
    const auto in = view_of<const T>(codes);
    py::array_t<std::int32_t> labels({in.rows, in.cols});
    const auto out = rw::row_major(labels.mutable_data(), in.rows, in.cols);
    std::optional<rw::code_problem> missing;
    {
        py::gil_scoped_release free;
        missing = classes.recode(in, out);
    }
    if (!missing) return labels;
    const rw::cell_code code = missing->code;
    return py::make_tuple("code_missing",
                          code.is_class_code() ? py::int_(code.as_class_code()) : py::int_(code.as_unsigned()),
                          missing->row, missing->col);
}

py::tuple recode(const py::array& codes, const std::vector<std::int64_t>& table_codes,
                 const std::vector<double>& table_values, const std::vector<py::int_>& nodata)
{
    std::vector<rw::code_row> rows;
    for (std::size_t k = 0; k < table_codes.size(); ++k) rows.push_back({table_codes[k], table_values[k]});
    // Nodata codes of int64 or uint64; one beyond both marks no cell of any
    // integer dtype, so it is left out.
    std::vector<rw::cell_code> nodata_codes;
    for (const py::int_& v : nodata) {
        int overflow = 0;
        const long long s = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
        if (overflow == 0) {
            nodata_codes.push_back(s);
        } else if (overflow > 0) {
            const unsigned long long u = PyLong_AsUnsignedLongLong(v.ptr());
            if (PyErr_Occurred()) PyErr_Clear();
            else nodata_codes.push_back(u);
        }
    }
    std::optional<rw::class_codes> classes;
    try {
        classes.emplace(std::move(rows), std::move(nodata_codes));
    } catch (const rw::invalid_codes& e) {
        const std::string kind(rw::problem_name(e.problem.kind));
        return py::make_tuple(py::none(), py::none(), py::none(),
                              py::make_tuple(kind, e.problem.code.as_class_code(), e.problem.row, e.problem.col));
    }
    py::object labels;
    if (holds<std::int8_t>(codes)) labels = recode_as<std::int8_t>(codes, *classes);
    else if (holds<std::uint8_t>(codes)) labels = recode_as<std::uint8_t>(codes, *classes);
    else if (holds<std::int16_t>(codes)) labels = recode_as<std::int16_t>(codes, *classes);
    else if (holds<std::uint16_t>(codes)) labels = recode_as<std::uint16_t>(codes, *classes);
    else if (holds<std::int32_t>(codes)) labels = recode_as<std::int32_t>(codes, *classes);
    else if (holds<std::uint32_t>(codes)) labels = recode_as<std::uint32_t>(codes, *classes);
    else if (holds<std::int64_t>(codes)) labels = recode_as<std::int64_t>(codes, *classes);
    else if (holds<std::uint64_t>(codes)) labels = recode_as<std::uint64_t>(codes, *classes);
    else throw py::type_error("codes must be an integer array of at most 64 bits");
    if (py::isinstance<py::tuple>(labels))
        return py::make_tuple(py::none(), py::none(), py::none(), labels);
    return py::make_tuple(labels, py::array(py::cast(classes->table())), py::cast(classes->codes()), py::none());
}

// The catalogue of maps, for front ends that list them: one dict per map.
py::list catalogue()
{
    py::list maps;
    for (const rw::map_entry& e : rw::map_catalogue()) {
        py::dict d;
        d["name"] = std::string(e.name);
        d["title"] = std::string(e.title);
        d["summary"] = std::string(e.summary);
        d["table"] = std::string(e.table);
        d["random"] = e.random;
        d["takes_probes"] = e.takes_probes;
        // How a tiled run carries state between tiles.
        switch (e.engine) {
        case rw::map_engine::value_table: d["engine"] = "value_table"; break;
        case rw::map_engine::running_score: d["engine"] = "running_score"; break;
        case rw::map_engine::thinned_points: d["engine"] = "thinned_points"; break;
        }
        maps.append(d);
    }
    return maps;
}

// The ways of computing window sums: (name, summary) pairs, the front ends'
// default first.
py::list arithmetics()
{
    py::list names;
    for (const rw::arithmetic_entry& a : rw::arithmetic_catalogue())
        names.append(py::make_tuple(std::string(a.name), std::string(a.summary)));
    return names;
}

// The edge rules: (name, summary) pairs, the front ends' default first.
py::list edge_rules()
{
    py::list names;
    for (const rw::edge_entry& e : rw::edge_catalogue())
        names.append(py::make_tuple(std::string(e.name), std::string(e.summary)));
    return names;
}

// The extent (h, w) of a circle or annulus, or None when the core refuses
// the footprint (its problem comes with the request's).
py::object window_extent(const std::string& shape, double inner, double outer, double cell_height,
                         double cell_width)
{
    const window_args a = window_of(py::make_tuple(0, 0, shape, inner, outer, cell_height, cell_width));
    if (a.footprint.shape == rw::window_shape::rectangle) throw py::value_error("a rectangle's extent is its size");
    if (rw::check_footprint(a.footprint) != rw::footprint_fault::none) return py::none();
    const rw::window_extent e = rw::extent_of(a.footprint);
    return py::make_tuple(e.h, e.w);
}

// The number of cells a window holds.
rw::index_t footprint_cells(const py::tuple& window)
{
    rw::map_request q = request_of("varnok", table_array(1), window, 0, 0);
    return rw::window_cells(q);
}

const rw::map_entry& entry_named(const std::string& map)
{
    if (const rw::map_entry* e = rw::find_map(map)) return *e;
    throw py::value_error("unknown map '" + map + "'");
}

// The cells that receive a score, (r0, r1, c0, c1), empty when none.
py::tuple scored_cells(const std::string& map, rw::index_t M, rw::index_t N, const py::tuple& window,
                       const std::string& edges)
{
    const window_args a = window_of(window);
    rw::map_request q{entry_named(map).kind, nullptr, 1, a.h, a.w};
    q.footprint = a.footprint;
    q.edges = edges_of(edges);
    const rw::cell_block b = rw::scored_cells(q, M, N);
    return py::make_tuple(b.r0, b.r1, b.c0, b.c1);
}

// An integer of either 64-bit type, as Python ints carry codes and labels.
rw::cell_code cell_code_of(const py::handle& value)
{
    int overflow = 0;
    const long long s = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow == 0 && !PyErr_Occurred()) return s;
    PyErr_Clear();
    if (overflow > 0) {
        const unsigned long long u = PyLong_AsUnsignedLongLong(value.ptr());
        if (!PyErr_Occurred()) return u;
        PyErr_Clear();
    }
    throw py::value_error("expected an integer of at most 64 bits");
}

// A front end's naming, from a dict of its words (the fields of
// rw::problem_naming; "codes" a list of class codes in class order, "detail"
// "remedy", "reason" or "rule_and_reason", "class_shown" "none", "label" or
// "table_entry"). It holds the words it points at.
class naming_of {
public:
    explicit naming_of(const py::dict& names)
    {
        words_.reserve(8);
        word(names, "table", n_.table);
        word(names, "window", n_.window);
        word(names, "labels", n_.labels);
        word(names, "probes_per_cell", n_.probes_per_cell);
        word(names, "min_valid", n_.min_valid);
        word(names, "table_in_passing", n_.table_in_passing);
        word(names, "exclude", n_.exclude);
        word(names, "power", n_.power);
        if (names.contains("first_index")) n_.first_index = names["first_index"].cast<rw::index_t>();
        if (names.contains("sentence")) n_.sentence = names["sentence"].cast<bool>();
        if (names.contains("class_shown")) {
            const auto shown = names["class_shown"].cast<std::string>();
            if (shown == "none") n_.class_shown = rw::class_aside::none;
            else if (shown == "label") n_.class_shown = rw::class_aside::label;
            else if (shown == "table_entry") n_.class_shown = rw::class_aside::table_entry;
            else throw py::value_error("unknown class_shown '" + shown + "'");
        }
        if (names.contains("codes") && !names["codes"].is_none()) {
            codes_ = names["codes"].cast<std::vector<rw::class_code>>();
            n_.codes = codes_;
        }
        if (names.contains("detail")) {
            const auto detail = names["detail"].cast<std::string>();
            if (detail == "remedy") n_.detail = rw::problem_detail::remedy;
            else if (detail == "reason") n_.detail = rw::problem_detail::reason;
            else if (detail == "rule_and_reason") n_.detail = rw::problem_detail::rule_and_reason;
            else throw py::value_error("unknown detail '" + detail + "'");
        }
    }
    naming_of(const naming_of&) = delete;
    naming_of& operator=(const naming_of&) = delete;
    const rw::problem_naming& get() const { return n_; }

private:
    void word(const py::dict& names, const char* key, std::string_view& into)
    {
        if (!names.contains(key)) return;
        words_.push_back(names[key].cast<std::string>());
        into = words_.back();
    }
    rw::problem_naming n_;
    std::vector<std::string> words_; // reserved, so the views stay put
    std::vector<rw::class_code> codes_;
};

// A request problem's sentence, for problem = (kind, value, row, col) as
// run_map returns it (value may be any 64-bit integer: a label as the
// caller's array held it), the request's map and table, and the front end's
// names.
std::string problem_text(const py::tuple& problem, const std::string& map, const table_array& table,
                         double min_valid, const py::dict& names, const py::tuple& window)
{
    const auto kind_name = problem[0].cast<std::string>();
    std::optional<rw::problem_kind> kind;
    for (int k = 0; k <= static_cast<int>(rw::problem_kind::footprint_needs_exact); ++k)
        if (rw::problem_name(static_cast<rw::problem_kind>(k)) == kind_name) kind = static_cast<rw::problem_kind>(k);
    if (!kind) throw py::value_error("unknown problem '" + kind_name + "'");
    const rw::cell_code value = cell_code_of(problem[1]);
    const rw::request_problem p{*kind, value.is_class_code() ? value.as_class_code() : 0,
                                problem[2].cast<rw::index_t>(), problem[3].cast<rw::index_t>()};
    rw::map_request q = request_of(map, table, window, 0, 0);
    q.min_valid = min_valid;
    const naming_of n(names);
    return rw::problem_text(p, q, n.get(), value);
}

// A code problem's sentence, for problem = (kind, code, row, col) as recode
// returns it.
std::string code_problem_text(const py::tuple& problem, const py::dict& names)
{
    const auto kind_name = problem[0].cast<std::string>();
    std::optional<rw::code_problem_kind> kind;
    for (int k = 0; k <= static_cast<int>(rw::code_problem_kind::code_missing); ++k)
        if (rw::problem_name(static_cast<rw::code_problem_kind>(k)) == kind_name)
            kind = static_cast<rw::code_problem_kind>(k);
    if (!kind) throw py::value_error("unknown problem '" + kind_name + "'");
    const naming_of n(names);
    return rw::problem_text(rw::code_problem{*kind, cell_code_of(problem[1]), problem[2].cast<rw::index_t>(),
                                             problem[3].cast<rw::index_t>()},
                            n.get());
}

// The request's own problem, before any label is read, as (kind, value,
// row, col), or None: front ends that build work ahead (dask graphs) check
// here, so that a bad request fails where it is made.
py::object check_request(const std::string& map, const table_array& table, const py::tuple& window,
                         std::int32_t probes_per_cell, bool nodata, const std::string& policy, double min_valid,
                         const std::string& arithmetic)
{
    rw::map_request q = request_of(map, table, window, probes_per_cell, 0);
    q.arithmetic = arithmetic_of(arithmetic);
    q.nodata = nodata;
    q.policy = policy_of(policy);
    q.min_valid = min_valid;
    return problem_tuple(rw::check_request(q));
}

} // namespace

void add_tile_functions(py::module_& m);

} // namespace pyrw

PYBIND11_MODULE(_core, m)
{
    namespace py = pybind11;
    m.doc() = "Moving-window maps over categorical rasters: the compiled core.";
    m.def("run_map", &pyrw::run_map, py::arg("map"), py::arg("table"), py::arg("window"),
          py::arg("labels"), py::arg("probes_per_cell"), py::arg("seed"), py::arg("threads"),
          py::arg("nodata") = false, py::arg("policy") = "strict", py::arg("min_valid") = 0.5,
          py::arg("unscored") = py::none(), py::arg("arithmetic") = "exact", py::arg("edges") = "inside");
    m.def("recode", &pyrw::recode, py::arg("codes"), py::arg("table_codes"), py::arg("table_values"),
          py::arg("nodata"));
    m.def("clock_seed", [] { return static_cast<std::uint32_t>(std::time(nullptr)); },
          "The calendar time in whole seconds, modulo 2**32: the seed of an unseeded call.");
    m.def("default_thread_count", &rw::default_thread_count);
    pyrw::translate_interrupts();
    m.def("catalogue", &pyrw::catalogue, "Every map: name, title, summary, table, random, takes_probes.");
    m.def("arithmetics", &pyrw::arithmetics,
          "The ways of computing window sums: (name, summary), the front ends' default first.");
    m.def("edge_rules", &pyrw::edge_rules,
          "The edge rules, which cells are scored: (name, summary), the front ends' default first.");
    m.def("window_extent", &pyrw::window_extent, py::arg("shape"), py::arg("inner"), py::arg("outer"),
          py::arg("cell_height"), py::arg("cell_width"),
          "The extent (h, w) of a circle or annulus, or None for a footprint the core refuses.");
    m.def("footprint_cells", &pyrw::footprint_cells, py::arg("window"), "The number of cells a window holds.");
    m.def("scored_cells", &pyrw::scored_cells, py::arg("map"), py::arg("M"), py::arg("N"), py::arg("window"),
          py::arg("edges"), "The cells that receive a score: (r0, r1, c0, c1), 0-based, ends excluded.");
    m.def("probe_reach", [](rw::index_t h, rw::index_t w) {
        return py::make_tuple(rw::probe_reach(h), rw::probe_reach(w));
    }, py::arg("h"), py::arg("w"), "How far Dravix's probes reach: (rows, columns).");
    m.def("problem_text", &pyrw::problem_text, py::arg("problem"), py::arg("map"), py::arg("table"),
          py::arg("min_valid") = rw::default_min_valid, py::arg("names") = py::dict(),
          py::arg("window") = py::make_tuple(1, 1, "rectangle", 0.0, 0.0, 1.0, 1.0),
          "The sentence for a problem (kind, value, row, col) found in a request.");
    m.def("code_problem_text", &pyrw::code_problem_text, py::arg("problem"), py::arg("names") = py::dict(),
          "The sentence for a problem (kind, code, row, col) of a code table or a raster's codes.");
    m.def("check_request", &pyrw::check_request, py::arg("map"), py::arg("table"), py::arg("window"),
          py::arg("probes_per_cell"), py::arg("nodata") = false, py::arg("policy") = "strict",
          py::arg("min_valid") = rw::default_min_valid, py::arg("arithmetic") = "exact",
          "The request's problem (kind, value, row, col) before any label is read, or None.");
    pyrw::add_tile_functions(m);
}
