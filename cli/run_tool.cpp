#include "run_tool.hpp"

#include "class_table_csv.hpp"
#include "gdal_input.hpp"
#include "gdal_output.hpp"
#include "progress_share.hpp"
#include "tool_error.hpp"

#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <new>
#include <optional>

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

rw::class_codes make_codes(const tool_options& o, const std::vector<rw::code_row>& rows,
                           const std::vector<rw::cell_code>& nodata)
{
    try {
        return rw::class_codes(rows, nodata);
    } catch (const rw::invalid_codes& e) {
        if (e.problem.kind == rw::code_problem_kind::duplicate_code)
            throw tool_error("the table " + o.table_path + " gives code " +
                             rw::to_string(e.problem.code) + " twice");
        throw tool_error("the table " + o.table_path + " has no code left once the nodata codes " +
                         codes_text(nodata) + " are taken out");
    }
}

std::string problem_text(const rw::request_problem& p, const tool_options& o,
                         const rw::class_codes& codes)
{
    switch (p.kind) {
    case rw::problem_kind::empty_table: return "the table " + o.table_path + " has no class";
    case rw::problem_kind::non_finite_class_value:
        // NaN or an infinity would turn whole rows of means or proportions
        // into NaN, and Marnisa would select an infinite value everywhere.
        return "the table " + o.table_path + " gives code " +
               std::to_string(codes.codes()[p.value - 1]) + " the value " +
               number(codes.table()[p.value - 1]) + ", which " + map_name(o.map) +
               " cannot use; give a finite value";
    case rw::problem_kind::empty_window: return "the window is empty";
    case rw::problem_kind::bad_probes_per_cell: return "--probes-per-cell must be 0 or more";
    case rw::problem_kind::bad_min_valid: return "--min-valid must be a fraction 0..1";
    case rw::problem_kind::window_too_large:
        return "the window has too many cells (" + std::to_string(p.value) +
               "); Sulmet takes at most 3037000499, and with nodata cells every map at most "
               "2147483647";
    case rw::problem_kind::label_out_of_range: break;
    }
    return "cell at row " + std::to_string(p.row) + ", column " + std::to_string(p.col) + " of " +
           o.input + " holds no class of the table";
}

metadata_items metadata_of(const tool_options& o, const rw::class_codes& codes,
                           const std::vector<rw::cell_code>& nodata, std::uint32_t seed)
{
    std::string table;
    for (rw::index_t k = 0; k < codes.K(); ++k) {
        if (k > 0) table += ' ';
        table += std::to_string(codes.codes()[k]);
        table += ':';
        table += number(codes.table()[k]);
    }
    metadata_items m = {{"RASTER_MAPS_MAP", map_name(o.map)},
                        {"RASTER_MAPS_WINDOW", std::to_string(o.h) + "x" + std::to_string(o.w)},
                        {"RASTER_MAPS_TABLE_FILE", o.table_path},
                        {"RASTER_MAPS_TABLE", table},
                        {"RASTER_MAPS_NODATA_CODES", codes_text(nodata)},
                        {"RASTER_MAPS_NODATA_POLICY",
                         o.policy == rw::nodata_policy::strict ? "strict" : "renormalise"}};
    if (o.policy == rw::nodata_policy::renormalise) m.push_back({"RASTER_MAPS_MIN_VALID", number(o.min_valid)});
    if (is_random(o.map)) m.push_back({"RASTER_MAPS_SEED", std::to_string(seed)});
    if (takes_probes_per_cell(o.map))
        m.push_back({"RASTER_MAPS_PROBES_PER_CELL", std::to_string(o.probes_per_cell)});
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
    if (o.h > M || o.w > N)
        throw tool_error("the window " + std::to_string(o.h) + "x" + std::to_string(o.w) +
                         " is larger than the input " + o.input + " (" + std::to_string(M) + "x" +
                         std::to_string(N) + " cells)");

    std::vector<rw::cell_code> nodata = o.exclude;
    if (const auto own = o.src_nodata_given ? o.src_nodata : input.nodata_code()) nodata.push_back(*own);
    const rw::class_codes codes = make_codes(o, rows, nodata);

    const std::uint32_t seed = o.seed ? *o.seed : static_cast<std::uint32_t>(std::time(nullptr));
    rw::map_request q{o.map, codes.table().data(), codes.K(), o.h, o.w};
    q.seed = seed;
    q.probes_per_cell = o.probes_per_cell;
    q.nodata = codes.has_nodata();
    q.policy = o.policy;
    q.min_valid = o.min_valid;
    if (const auto problem = rw::check_request(q, M, N))
        throw tool_error(problem_text(*problem, o, codes));
    if (!o.quiet) {
        if (is_random(o.map)) std::fprintf(stderr, "raster-maps: seed %u\n", seed);
        if (rw::scored_cells(q, M, N).empty())
            std::fprintf(stderr, "raster-maps: note: the input is too small for any %lldx%lld "
                                 "window with its margins; every cell is unscored\n",
                         static_cast<long long>(o.h), static_cast<long long>(o.w));
    }

    for (const std::string& dir : remove_stale_work_dirs(o.output))
        if (!o.quiet)
            std::fprintf(stderr, "raster-maps: note: removed %s, left by a run that ended unfinished\n", dir.c_str());
    output_raster output(target, input, metadata_of(o, codes, nodata, seed));
    // Dravix reads every row twice; a copy at the end takes the last fifth.
    const double passes = o.map == rw::map_kind::dravix ? 2.0 : 1.0;
    const double share = output.copies() ? 0.8 : 1.0;
    progress_share computing(progress, progress_data, 0.0, share);
    rw::index_t rows_read = 0;
    computing.report(0.0);
    gdal_label_source source(input, codes, o.table_path, [&](rw::index_t n) {
        rows_read += n;
        computing.report(static_cast<double>(rows_read) / (passes * static_cast<double>(M)));
    });
    gdal_output_sink sink(output.band(), q, M, N, o.border_zero);
    try {
        rw::stream_map(q, M, N, source, sink, {o.threads, o.strip_rows, [&] { return computing.stop_requested(); }});
    } catch (const rw::invalid_request& e) {
        throw tool_error(problem_text(e.problem, o, codes));
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
