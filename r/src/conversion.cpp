// rastermaps' conversion layer: R vectors in, the core's maps out. The R
// side (R/conversion.R) checks argument types and talks to terra; this file
// builds the core's request, runs it, and stops with the core's own sentence
// for any problem, worded for R users (argument names as they write them,
// rows and columns counted from 1).
//
// R's API is called on the calling thread only: the core reads and writes
// strips there (streamed maps run on a thread of their own, strip_relay.h),
// and asks there whether to stop. R errors and interrupts
// never jump over C++ frames: callbacks into R go through Rcpp, which turns
// an R error into a C++ exception, and the interrupt check runs inside
// R_ToplevelExec, where R's jump ends.
#include <Rcpp.h>

#include "maps/catalogue.hpp"
#include "maps/class_codes.hpp"
#include "maps/problem_text.hpp"
#include "maps/raster_maps.hpp"
#include "strip_relay.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

// The one place where problems are worded for R.
rw::problem_naming r_naming()
{
    rw::problem_naming n{"table", "window", "x", "probes_per_cell", "min_valid", 1, false};
    n.exclude = "exclude = ";
    return n;
}

[[noreturn]] void stop_with(const rw::request_problem& p, const rw::map_request& q)
{
    throw Rcpp::exception(rw::problem_text(p, q, r_naming()).c_str(), false);
}

[[noreturn]] void stop_with(const rw::code_problem& p)
{
    throw Rcpp::exception(rw::problem_text(p, r_naming()).c_str(), false);
}

void check_user_interrupt(void*) { R_CheckUserInterrupt(); }

// Whether the user pressed Ctrl-C. R_CheckUserInterrupt would jump to R's
// top level on an interrupt; inside R_ToplevelExec the jump stops there and
// clears it, so the caller raises it again once the C++ frames are gone.
bool user_interrupted() { return R_ToplevelExec(check_user_interrupt, nullptr) == FALSE; }

// The shortest text that reads back as the same double.
std::string number(double v)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

const rw::map_entry& entry_named(const std::string& map)
{
    if (const rw::map_entry* e = rw::find_map(map)) return *e;
    throw Rcpp::exception(("unknown map '" + map + "'").c_str(), false);
}

// A whole number of at most 64 bits written in decimal ("11", "-5",
// "18446744073709551615"); what names of R vectors hold.
std::optional<rw::cell_code> code_of_text(const std::string& text)
{
    const char* first = text.data();
    const char* last = first + text.size();
    std::int64_t s = 0;
    if (auto [end, ec] = std::from_chars(first, last, s); ec == std::errc() && end == last) return s;
    std::uint64_t u = 0;
    if (auto [end, ec] = std::from_chars(first, last, u); ec == std::errc() && end == last) return u;
    return std::nullopt;
}

std::vector<rw::cell_code> codes_of(const Rcpp::CharacterVector& texts, const char* what)
{
    std::vector<rw::cell_code> codes;
    for (R_xlen_t i = 0; i < texts.size(); ++i) {
        const std::string text(texts[i]);
        const auto code = code_of_text(text);
        if (!code)
            throw Rcpp::exception((std::string(what) + " '" + text + "' is not a whole number of at most 64 bits").c_str(),
                                  false);
        codes.push_back(*code);
    }
    return codes;
}

rw::class_codes class_codes_of(const Rcpp::CharacterVector& table_codes, const Rcpp::NumericVector& values,
                               const Rcpp::CharacterVector& exclude)
{
    const std::vector<rw::cell_code> codes = codes_of(table_codes, "the table code");
    std::vector<rw::code_row> rows;
    for (std::size_t k = 0; k < codes.size(); ++k) {
        if (!codes[k].is_class_code())
            throw Rcpp::exception(("the table code " + rw::to_string(codes[k]) +
                                   " is above 2^63 - 1, the largest code a table can hold")
                                      .c_str(),
                                  false);
        rows.push_back({codes[k].as_class_code(), values[static_cast<R_xlen_t>(k)]});
    }
    try {
        return rw::class_codes(std::move(rows), codes_of(exclude, "the excluded code"));
    } catch (const rw::invalid_codes& e) {
        stop_with(e.problem);
    }
}

rw::nodata_policy policy_of(const std::string& policy)
{
    if (policy == "renormalise") return rw::nodata_policy::renormalise;
    if (policy == "strict") return rw::nodata_policy::strict;
    throw Rcpp::exception(("unknown nodata_policy '" + policy + "'").c_str(), false);
}

rw::arithmetic arithmetic_of(const std::string& name)
{
    if (const rw::arithmetic_entry* a = rw::find_arithmetic(name)) return a->kind;
    throw Rcpp::exception(("unknown arithmetic '" + name + "'").c_str(), false);
}

// Window sides arrive as doubles, checked as whole numbers 1 .. 2^63 - 1.
rw::index_t side_of(double v)
{
    return v >= 9.2233720368547758e18 ? std::numeric_limits<rw::index_t>::max() : static_cast<rw::index_t>(v);
}

double number_in(const Rcpp::List& window, const char* name) { return Rcpp::as<double>(window[name]); }

// Makes the window R describes (R/windows.R: its shape, a rectangle's
// sides or the radii, whether they are in metres, and the cell's height
// and width in metres, 1 for cells) the request's footprint and extent.
// A rectangle in metres has round(size / cell side) cells a side, at least
// one, rounded half away from zero as the command line rounds.
void set_window(rw::map_request& q, const Rcpp::List& window)
{
    const std::string shape = Rcpp::as<std::string>(window["shape"]);
    const double ry = number_in(window, "cell_height"), rx = number_in(window, "cell_width");
    if (shape == "rectangle") {
        const bool metres = Rcpp::as<bool>(window["metres"]);
        const auto cells = [&](double size, double side) {
            return side_of(metres ? std::max(1.0, std::round(size / side)) : size);
        };
        q.h = cells(number_in(window, "height"), ry);
        q.w = cells(number_in(window, "width"), rx);
        rw::set_footprint(q, {});
        return;
    }
    if (shape != "circle" && shape != "annulus") throw Rcpp::exception(("unknown window shape '" + shape + "'").c_str(), false);
    rw::set_footprint(q, {shape == "circle" ? rw::window_shape::circle : rw::window_shape::annulus,
                          number_in(window, "inner"), number_in(window, "outer"), ry, rx});
}

rw::edge_rule edges_of(const std::string& name)
{
    if (const rw::edge_entry* e = rw::find_edges(name)) return e->kind;
    throw Rcpp::exception(("unknown edges '" + name + "'").c_str(), false);
}

struct run_settings {
    rw::map_request q;
    rw::run_options options;
};

run_settings settings_of(const std::string& map, const std::vector<double>& table, const Rcpp::List& window,
                         const std::string& edges, int probes_per_cell, double seed, int threads, const std::string& policy,
                         double min_valid, const std::string& arithmetic, double strip_rows)
{
    run_settings s;
    s.q.map = entry_named(map).kind;
    s.q.table = table.data();
    s.q.K = static_cast<rw::index_t>(table.size());
    set_window(s.q, window);
    s.q.edges = edges_of(edges);
    s.q.probes_per_cell = probes_per_cell;
    s.q.seed = static_cast<std::uint32_t>(seed);
    s.q.policy = policy_of(policy);
    s.q.min_valid = min_valid;
    s.q.arithmetic = arithmetic_of(arithmetic);
    s.options.threads = rw::thread_count(threads);
    s.options.strip_rows = static_cast<rw::index_t>(strip_rows);
    s.options.interrupted = user_interrupted;
    return s;
}

// Runs f, turning the core's exceptions into R's conditions: a stop at the
// user's request becomes R's interrupt, raised once the C++ frames are gone.
template <class F>
void run_core(const rw::map_request& q, F&& f)
{
    try {
        f();
    } catch (const rw::invalid_request& e) {
        stop_with(e.problem, q);
    } catch (const rw::interrupted&) {
        throw Rcpp::internal::InterruptedException();
    } catch (const rw::threads_unavailable& e) {
        throw Rcpp::exception(e.what(), false);
    } catch (const std::bad_alloc&) {
        throw Rcpp::exception("out of memory; try a smaller strip_rows or window", false);
    }
}

// Thrown by terra_code_source on an NA cell in a run without nodata
// handling; the run then starts again with it (see stream_codes).
struct nodata_met {};

// Cell values as terra reads them (doubles, NaN for NA) recoded to labels:
// NA is nodata (label K + 1), as are excluded codes; anything but a whole
// number is no class code. A run without nodata handling, taken when x
// seemed to hold no NA, stops at the first NA with nodata_met.
class terra_code_source final : public rw::label_source {
public:
    terra_code_source(Rcpp::Function read_rows, const rw::class_codes& codes, rw::index_t N, bool nodata)
        : read_rows_(std::move(read_rows)), codes_(codes), N_(N), nodata_(nodata)
    {
    }

    void read(rw::index_t r0, rw::index_t r1, rw::raster_view<std::int32_t> into) override
    {
        const Rcpp::NumericVector cells = read_rows_(static_cast<double>(r0 + 1), static_cast<double>(r1 - r0));
        if (cells.size() != (r1 - r0) * N_)
            throw Rcpp::exception("terra returned a block of the wrong size", false);
        const std::int32_t nodata = codes_.nodata_label();
        const double* v = cells.begin();
        for (rw::index_t r = r0; r < r1; ++r)
            for (rw::index_t c = 0; c < N_; ++c, ++v) {
                // Whole numbers in -2^63 .. 2^63 - 1, tested without floor(),
                // which is a library call per cell on most builds; NaN fails
                // the range test.
                if (*v >= -9.2233720368547758e18 && *v < 9.2233720368547758e18) {
                    const auto code = static_cast<rw::class_code>(*v);
                    if (static_cast<double>(code) == *v) {
                        const std::int32_t label = codes_.label_of(code);
                        if (label == 0) stop_with(rw::code_problem{rw::code_problem_kind::code_missing, code, r, c});
                        into(r, c) = label;
                        continue;
                    }
                }
                if (std::isnan(*v)) {
                    if (!nodata_) throw nodata_met{};
                    into(r, c) = nodata;
                    continue;
                }
                throw Rcpp::exception(("x holds " + number(*v) + " at row " + std::to_string(r + 1) + ", column " +
                                       std::to_string(c + 1) +
                                       ", which is no class code; codes are whole numbers (NA for nodata)")
                                          .c_str(),
                                      false);
            }
    }

private:
    Rcpp::Function read_rows_;
    const rw::class_codes& codes_;
    rw::index_t N_;
    bool nodata_;
};

// Finished rows, unscored cells NaN, handed to R in terra's row-major order.
class terra_value_sink final : public rw::output_sink {
public:
    terra_value_sink(Rcpp::Function write_rows, const rw::map_request& q, rw::index_t M, rw::index_t N)
        : write_rows_(std::move(write_rows)), q_(q), M_(M), N_(N)
    {
    }

    void write(rw::index_t r0, rw::index_t r1, rw::raster_view<const double> rows) override
    {
        // Strips but the last have the same height: one vector serves them
        // all, which spares R an allocation and the kernel fresh pages each.
        if (values_.size() != (r1 - r0) * N_) values_ = Rcpp::NumericVector(Rcpp::no_init((r1 - r0) * N_));
        Rcpp::NumericVector& values = values_;
        const rw::raster_view<double> out{values.begin(), r1 - r0, N_, N_, 1, r0, 0};
        for (rw::index_t r = r0; r < r1; ++r)
            for (rw::index_t c = 0; c < N_; ++c) out(r, c) = rows(r, c);
        rw::fill_unscored(q_, M_, N_, out, std::numeric_limits<double>::quiet_NaN());
        write_rows_(values, static_cast<double>(r0 + 1), static_cast<double>(r1 - r0));
    }

private:
    Rcpp::Function write_rows_;
    const rw::map_request& q_;
    rw::index_t M_, N_;
    Rcpp::NumericVector values_;
};

} // namespace

// The catalogue of maps, for the R side to check its functions against.
// [[Rcpp::export(.catalogue)]]
Rcpp::DataFrame catalogue()
{
    std::vector<std::string> name, title, summary, table;
    std::vector<bool> random, probes;
    for (const rw::map_entry& e : rw::map_catalogue()) {
        name.emplace_back(e.name);
        title.emplace_back(e.title);
        summary.emplace_back(e.summary);
        table.emplace_back(e.table);
        random.push_back(e.random);
        probes.push_back(e.takes_probes);
    }
    return Rcpp::DataFrame::create(Rcpp::Named("name") = name, Rcpp::Named("title") = title,
                                   Rcpp::Named("summary") = summary, Rcpp::Named("table") = table,
                                   Rcpp::Named("random") = random, Rcpp::Named("takes_probes") = probes,
                                   Rcpp::Named("stringsAsFactors") = false);
}

// The ways of computing window sums, the front ends' default first.
// [[Rcpp::export(.arithmetics)]]
std::vector<std::string> arithmetics()
{
    std::vector<std::string> names;
    for (const rw::arithmetic_entry& a : rw::arithmetic_catalogue()) names.emplace_back(a.name);
    return names;
}

// The edge rules, the front ends' default first.
// [[Rcpp::export(.edge_names)]]
std::vector<std::string> edge_names()
{
    std::vector<std::string> names;
    for (const rw::edge_entry& e : rw::edge_catalogue()) names.emplace_back(e.name);
    return names;
}

// The window in cells: its extent's rows and columns and the cells its
// footprint holds, c(h, w, cells); a circle or annulus the core refuses
// stops with the core's sentence.
// [[Rcpp::export(.window_size)]]
Rcpp::NumericVector window_size(Rcpp::List window)
{
    rw::map_request q;
    set_window(q, window);
    if (q.footprint.shape != rw::window_shape::rectangle) {
        if (const auto fault = rw::check_footprint(q.footprint); fault != rw::footprint_fault::none)
            stop_with(rw::request_problem{rw::problem_kind::bad_footprint, static_cast<std::int64_t>(fault)}, q);
    }
    return Rcpp::NumericVector::create(static_cast<double>(q.h), static_cast<double>(q.w),
                                       static_cast<double>(rw::window_cells(q)));
}

// The calendar time in whole seconds, modulo 2^32: the seed of an unseeded
// call, as every front end takes it.
// [[Rcpp::export(.clock_seed)]]
double clock_seed() { return static_cast<double>(static_cast<std::uint32_t>(std::time(nullptr))); }

// The threads a run with `threads` asks for would use (0: the default).
// [[Rcpp::export(.thread_count)]]
int thread_count(double threads)
{
    return rw::thread_count(threads >= 9.2e18 ? std::numeric_limits<long long>::max() : static_cast<long long>(threads));
}

// The table as the maps see it, "code:value" in class order, for the
// output's metadata (as the command line writes it).
// [[Rcpp::export(.table_text)]]
std::string table_text(Rcpp::CharacterVector table_codes, Rcpp::NumericVector table_values,
                       Rcpp::CharacterVector exclude)
{
    const rw::class_codes codes = class_codes_of(table_codes, table_values, exclude);
    std::string text;
    for (rw::index_t k = 0; k < codes.K(); ++k) {
        if (k > 0) text += ' ';
        text += std::to_string(codes.codes()[static_cast<std::size_t>(k)]) + ':' +
                number(codes.table()[static_cast<std::size_t>(k)]);
    }
    return text;
}

// A map of an M x N integer matrix of labels 1..K, as the plug-ins compute
// it: unscored cells stay 0. NA cells are nodata, scored by the policy.
// [[Rcpp::export(.map_labels)]]
Rcpp::NumericMatrix map_labels(std::string map, Rcpp::NumericVector table, Rcpp::List window,
                               std::string edges, Rcpp::IntegerMatrix labels, int probes_per_cell, double seed, int threads,
                               std::string policy, double min_valid, std::string arithmetic)
{
    const std::vector<double> values(table.begin(), table.end());
    run_settings s = settings_of(map, values, window, edges, probes_per_cell, seed, threads, policy, min_valid, arithmetic, 0);
    rw::map_request& q = s.q;
    const rw::index_t M = labels.nrow(), N = labels.ncol();
    rw::raster_view<const std::int32_t> in = rw::column_major<const std::int32_t>(labels.begin(), M, N);

    // NA becomes the nodata label K + 1; a label that is K + 1 already
    // becomes 0, so that it is reported as outside 1..K, with its own value.
    std::vector<std::int32_t> with_nodata;
    const std::int32_t* first = labels.begin();
    const std::int32_t* last = first + static_cast<std::ptrdiff_t>(M * N);
    if (std::find(first, last, NA_INTEGER) != last && q.K < std::numeric_limits<std::int32_t>::max()) {
        const auto nodata = static_cast<std::int32_t>(q.K + 1);
        with_nodata.reserve(static_cast<std::size_t>(M * N));
        for (const std::int32_t* p = first; p != last; ++p)
            with_nodata.push_back(*p == NA_INTEGER ? nodata : *p == nodata ? 0 : *p);
        q.nodata = true;
        in = rw::column_major<const std::int32_t>(with_nodata.data(), M, N);
    }
    if (auto problem = rw::validate(q, in)) {
        if (problem->kind == rw::problem_kind::label_out_of_range) problem->value = labels(problem->row, problem->col);
        stop_with(*problem, q);
    }
    Rcpp::NumericMatrix out(M, N); // zero-filled
    run_core(q, [&] { rw::run_map(q, in, rw::column_major<double>(out.begin(), M, N), s.options); });
    return out;
}

// A map of an M x N raster of class codes read from terra in strips:
// read_rows(first row, rows) gives the rows' cells row by row (NA for
// nodata), write_rows(values, first row, rows) takes finished rows, each row
// once, in order. The table is its codes (decimal text) and their values.
// Nodata handling (NA cells, excluded codes) costs a count of valid cells
// per window, so the caller asks for it only when x may hold NA or codes
// are excluded; without it, the first NA ends the run and the result is
// FALSE (some rows may have been written), for the caller to start again
// with it. The result is TRUE when every row was written.
// [[Rcpp::export(.stream_codes)]]
bool stream_codes(std::string map, Rcpp::CharacterVector table_codes, Rcpp::NumericVector table_values,
                  Rcpp::CharacterVector exclude, bool nodata, Rcpp::List window, std::string edges, double M,
                  double N,
                  int probes_per_cell, double seed, int threads, std::string policy, double min_valid,
                  std::string arithmetic, double strip_rows, Rcpp::Function read_rows, Rcpp::Function write_rows)
{
    const rw::class_codes codes = class_codes_of(table_codes, table_values, exclude);
    run_settings s = settings_of(map, codes.table(), window, edges, probes_per_cell, seed, threads, policy, min_valid,
                                 arithmetic, strip_rows);
    rw::map_request& q = s.q;
    q.nodata = nodata || codes.has_nodata();
    const auto rows = static_cast<rw::index_t>(M), cols = static_cast<rw::index_t>(N);
    if (auto problem = rw::check_request(q, rows, cols)) stop_with(*problem, q);
    terra_code_source source(std::move(read_rows), codes, cols, q.nodata);
    terra_value_sink sink(std::move(write_rows), q, rows, cols);
    rmaps::strip_relay relay(
        rows, cols, [&](rw::index_t r0, rw::index_t r1, rw::raster_view<std::int32_t> into) { source.read(r0, r1, into); },
        [&](rw::index_t r0, rw::index_t r1, rw::raster_view<const double> done) { sink.write(r0, r1, done); });
    // The core's thread asks the relay, never R, whether to stop.
    s.options.interrupted = [&relay] { return relay.stopping(); };
    try {
        run_core(q, [&] {
            relay.run([&](rw::label_source& from, rw::output_sink& to) { rw::stream_map(q, rows, cols, from, to, s.options); },
                      user_interrupted);
        });
    } catch (const nodata_met&) {
        return false;
    }
    return true;
}
