#include "run_tool.hpp"

#include "class_table_csv.hpp"
#include "gdal_input.hpp"
#include "gdal_output.hpp"
#include "maps/catalogue.hpp"
#include "maps/problem_text.hpp"
#include "progress_share.hpp"
#include "tool_error.hpp"

#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <new>
#include <optional>
#include <span>

namespace cli {
namespace {

// The shortest text that reads back as the same double.
std::string number(double v)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

std::string codes_text(const std::vector<rw::cell_code>& codes)
{
    std::string s;
    for (const rw::cell_code c : codes) {
        if (!s.empty()) s += ' ';
        s += rw::to_string(c);
    }
    return s;
}

// How the tool names what the core's problems are about: the table and the
// input by their paths, options by their flags, classes by their codes.
// table is "the table <path>" and window "--window <text>"; both must
// outlive the naming.
rw::problem_naming naming_of(const tool_options& o, const std::string& table, const std::string& window,
                             std::span<const rw::class_code> codes = {})
{
    rw::problem_naming n{table, window, o.input, "--probes-per-cell", "--min-valid"};
    n.codes = codes;
    n.exclude = "--exclude ";
    return n;
}

metadata_items metadata_of(const tool_options& o, const rw::map_request& q, const rw::class_codes& codes,
                           const std::vector<rw::cell_code>& nodata)
{
    std::string table;
    for (rw::index_t k = 0; k < codes.K(); ++k) {
        if (k > 0) table += ' ';
        table += std::to_string(codes.codes()[k]);
        table += ':';
        table += number(codes.table()[k]);
    }
    metadata_items m = {{"RASTER_MAPS_MAP", map_name(o.map)},
                        {"RASTER_MAPS_WINDOW", std::to_string(q.h) + "x" + std::to_string(q.w)},
                        {"RASTER_MAPS_FOOTPRINT", o.window.text},
                        {"RASTER_MAPS_FOOTPRINT_CELLS", std::to_string(rw::window_cells(q))},
                        {"RASTER_MAPS_EDGES", std::string(rw::entry_of(o.edges).name)},
                        {"RASTER_MAPS_TABLE_FILE", o.table_path},
                        {"RASTER_MAPS_TABLE", table},
                        {"RASTER_MAPS_NODATA_CODES", codes_text(nodata)},
                        {"RASTER_MAPS_NODATA_POLICY",
                         o.policy == rw::nodata_policy::strict ? "strict" : "renormalise"}};
    if (o.policy == rw::nodata_policy::renormalise) m.push_back({"RASTER_MAPS_MIN_VALID", number(o.min_valid)});
    if (is_random(o.map)) m.push_back({"RASTER_MAPS_SEED", std::to_string(q.seed)});
    if (takes_probes_per_cell(o.map))
        m.push_back({"RASTER_MAPS_PROBES_PER_CELL", std::to_string(o.probes_per_cell)});
    m.push_back({"RASTER_MAPS_ARITHMETIC", std::string(rw::entry_of(o.arithmetic).name)});
    m.push_back({"RASTER_MAPS_BORDER", o.border_zero ? "zero" : "nodata"});
    return m;
}

} // namespace

void run_tool(const tool_options& o, GDALProgressFunc progress, void* progress_data)
{
    const std::vector<rw::code_row> rows = read_class_table(o.table_path);
    input_raster input(o.input, o.band);
    const output_target target(o, input);
    const rw::index_t M = input.rows(), N = input.cols();
    // GDAL's block cache defaults to a share of the machine's memory and
    // would hold much of the output; a few rows of output tiles is all a
    // strip needs. GDAL_CACHEMAX still decides when it is set.
    if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr)
        GDALSetCacheMax64(std::max<GIntBig>(GIntBig{256} << 20, GIntBig{2} * N * 512 * 8));
    std::vector<rw::cell_code> nodata = o.exclude;
    if (const auto own = o.src_nodata_given ? o.src_nodata : input.nodata_code()) nodata.push_back(*own);
    const std::string table = "the table " + o.table_path, window = "--window " + o.window.text;
    const rw::class_codes codes = [&] {
        try {
            return rw::class_codes(rows, nodata);
        } catch (const rw::invalid_codes& e) {
            throw tool_error(rw::problem_text(e.problem, naming_of(o, table, window)));
        }
    }();
    const rw::problem_naming naming = naming_of(o, table, window, codes.codes());

    const std::uint32_t seed = o.seed ? *o.seed : static_cast<std::uint32_t>(std::time(nullptr));
    rw::map_request q{o.map, codes.table().data(), codes.K()};
    set_window(q, o.window, o.window.unit == size_unit::metres ? input.pixel_metres(o.window.text) : cell_size{});
    q.edges = o.edges;
    q.seed = seed;
    q.probes_per_cell = o.probes_per_cell;
    q.nodata = codes.has_nodata();
    q.policy = o.policy;
    q.min_valid = o.min_valid;
    q.arithmetic = o.arithmetic;
    if (const auto problem = rw::check_request(q, M, N)) throw tool_error(rw::problem_text(*problem, q, naming));
    if (q.h > M || q.w > N)
        throw tool_error("the window " + o.window.text + " (" + std::to_string(q.h) + "x" + std::to_string(q.w) +
                         " cells) is larger than the input " + o.input + " (" + std::to_string(M) + "x" +
                         std::to_string(N) + " cells)");
    if (!o.quiet) {
        if (is_random(o.map)) std::fprintf(stderr, "raster-maps: seed %u\n", seed);
        if (rw::scored_cells(q, M, N).empty())
            std::fprintf(stderr, "raster-maps: note: the input is too small for any %lldx%lld "
                                 "window with the plug-ins' margins; every cell is unscored\n",
                         static_cast<long long>(q.h), static_cast<long long>(q.w));
    }

    for (const std::string& dir : remove_stale_work_dirs(o.output))
        if (!o.quiet)
            std::fprintf(stderr, "raster-maps: note: removed %s, left by a run that ended unfinished\n", dir.c_str());
    output_raster output(target, input, metadata_of(o, q, codes, nodata));
    // A copy at the end takes the last fifth.
    const double passes = rw::label_passes(q, M, N);
    const double share = output.copies() ? 0.8 : 1.0;
    progress_share computing(progress, progress_data, 0.0, share);
    rw::index_t rows_read = 0;
    computing.report(0.0);
    gdal_label_source source(input, codes, [&](rw::index_t n) {
        rows_read += n;
        computing.report(static_cast<double>(rows_read) / (passes * static_cast<double>(M)));
    });
    gdal_output_sink sink(output.band(), q, M, N, o.border_zero);
    try {
        rw::stream_map(q, M, N, source, sink, {o.threads, o.strip_rows, [&] { return computing.stop_requested(); }});
    } catch (const rw::invalid_request& e) {
        throw tool_error(rw::problem_text(e.problem, q, naming));
    } catch (const rw::invalid_codes& e) {
        throw tool_error(rw::problem_text(e.problem, naming));
    } catch (const std::bad_alloc&) {
        throw tool_error("out of memory; try fewer --strip-rows or a smaller window");
    } catch (const std::invalid_argument& e) {
        throw tool_error(e.what());
    }
    // (GDAL widens an empty share of a progress to 0.01, past the end.)
    std::optional<progress_share> copying;
    if (output.copies()) copying.emplace(progress, progress_data, share, 1.0);
    output.commit(copying ? *copying : computing);
}

} // namespace cli
