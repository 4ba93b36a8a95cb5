#include "tool_options.hpp"

#include "tool_error.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace cli {
namespace {

struct map_info {
    rw::map_kind map;
    const char* name;
    const char* summary;
    const char* table;
};

const map_info maps[] = {
    {rw::map_kind::varnok, "varnok", "mean of the class value over the window's cells",
     "the class value of each code"},
    {rw::map_kind::marnisa, "marnisa",
     "mean of the class value over the window, each cell kept only at random with its class "
     "value as the chance (cells not kept count as 0)",
     "the class value of each code, also its chance to be kept"},
    {rw::map_kind::sulmet, "sulmet",
     "1 - 0.5 * sum((q - p)^2): closeness of the window's class proportions q to the table's p",
     "the target proportion of each code"},
    {rw::map_kind::ombrel, "ombrel",
     "sum(table .* sqrt(q)), q the window's class proportions: with table = sqrt(p) the "
     "Bhattacharyya coefficient of p and q",
     "the square root of each code's target proportion"},
    {rw::map_kind::dravix, "dravix",
     "share of the window's cells holding a random point that survived thinning: points drawn "
     "with the class value as chance, each removed the likelier the more of its probes find "
     "its own class",
     "the chance of a point on each code"},
};

const char* usage_lines =
    "Usage: raster-maps <map> --table <file> --window <h>[x<w>]\n"
    "                   [--seed <n>] [--probes-per-cell <n>] [--band <n>]\n"
    "                   [--src-nodata <code>|none] [--exclude <code>[,<code>]...]\n"
    "                   [--nodata-policy strict|renormalise] [--min-valid <fraction>]\n"
    "                   [--border nodata|zero] [-of <format>] [--type Float64|Float32]\n"
    "                   [--co <NAME>=<VALUE>]... [--overwrite] [--threads <n>] [-q]\n"
    "                   <input> <output>\n";

std::string program_help()
{
    std::string s = usage_lines;
    s += "\nMoving-window maps of a land-cover raster: every cell whose window fits the\n"
         "raster gets one score of the h x w window centred on it.\n\nMaps:\n";
    for (const map_info& m : maps) s += std::string("  ") + m.name + "\n      " + m.summary + "\n";
    s += "\nraster-maps <map> --help describes one map and every option.\n"
         "Example: raster-maps varnok --table quality.csv --window 21 landcover.tif quality21.tif\n";
    return s;
}

std::string map_help(const map_info& m)
{
    std::string s = std::string("Usage: raster-maps ") + m.name + " [options] <input> <output>\n\n" +
                    m.name + ": " + m.summary + ".\n\n";
    s += "Input: band 1 (or --band) of any GDAL raster of an integer type, holding class codes.\n"
         "Output: a GeoTIFF (or -of) with the input's CRS and geotransform, one score per cell\n"
         "whose window keeps 10 cells from the top and left edges and 11 from the bottom and\n"
         "right; other cells are nodata (NaN).\n\nOptions:\n";
    s += std::string("  --table <file>        CSV of code,value rows (a header line allowed), the value\n"
                     "                        being ") + m.table + ".\n"
         "                        Codes become classes 1..K in increasing code order; a code\n"
         "                        of the raster missing from the table is an error unless nodata.\n"
         "  --window <h>[x<w>]    window size in cells, rows x columns (21 = 21x21).\n";
    if (is_random(m.map))
        s += "  --seed <n>            seed of the random draws (0..4294967295); default: the clock\n"
             "                        second. The seed used is printed and kept in the metadata.\n";
    if (m.map == rw::map_kind::dravix)
        s += "  --probes-per-cell <n> probes per raster cell, shared among the points (default 12).\n";
    s += "  --band <n>            band to read (default 1).\n"
         "  --src-nodata <code>|none\n"
         "                        code of nodata cells instead of the input's nodata value;\n"
         "                        none ignores the input's nodata value.\n"
         "  --exclude <code>[,<code>]...\n"
         "                        codes treated as nodata too (repeatable).\n"
         "  --nodata-policy strict|renormalise\n"
         "                        strict (default): a window holding any nodata cell is nodata.\n"
         "                        renormalise: its score over the valid cells only (means,\n"
         "                        proportions, densities over the count of valid cells).\n"
         "  --min-valid <f>       renormalise only: fraction 0..1 of the window's cells that must\n"
         "                        be valid (default 0.5; at least one cell always).\n"
         "  --border nodata|zero  cells no window scores: nodata (default) or 0.\n"
         "  -of <format>          GDAL driver of the output (default GTiff; COG and any driver\n"
         "                        that writes files and can create or copy rasters of the type).\n"
         "  --type Float64|Float32\n"
         "                        output data type (default Float64).\n"
         "  --co <NAME>=<VALUE>   creation option of the driver (repeatable; one the driver does\n"
         "                        not list is an error); GTiff defaults: TILED=YES\n"
         "                        COMPRESS=DEFLATE ZLEVEL=1 PREDICTOR=3 BIGTIFF=IF_SAFER\n"
         "                        NUM_THREADS=<the threads>.\n"
         "  --overwrite           replace an existing output; only a regular file, never a file\n"
         "                        of the input. Without it, an output that appears while the\n"
         "                        map runs is not replaced either.\n"
         "  --threads <n>         threads (default: every core, or RASTER_MAPS_THREADS); at most\n"
         "                        4 per core are used, by the maps and by GDAL's compression.\n"
         "  --strip-rows <n>      rows read per strip (default: from the width and window).\n"
         "  -q, --quiet           no progress bar or notes on standard error (GDAL's warnings\n"
         "                        still show).\n"
         "  -h, --help            this text.\n"
         "\nThe output is written in .<name>.incomplete-<pid>/ beside it and moved into place\n"
         "once complete. Exit status: 0 done, 1 error, 2 wrong command line, 128 + the signal's\n"
         "number when stopped by one (130 Ctrl-C, 143 SIGTERM), the partial output removed.\n";
    return s;
}

[[noreturn]] void bad(const std::string& text) { throw usage_error(text); }

long long whole_number(const std::string& option, const std::string& text, long long lo, long long hi)
{
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || v < lo || v > hi)
        bad(option + " takes a whole number " + std::to_string(lo) + ".." + std::to_string(hi) +
            "; got '" + text + "'");
    return v;
}

// Any code of an integer band: Int64's least to UInt64's greatest.
rw::cell_code code_of(const std::string& option, const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0' && errno == 0) return v;
    if (text.find('-') == std::string::npos) { // strtoull would wrap a negative one
        errno = 0;
        const unsigned long long u = std::strtoull(text.c_str(), &end, 10);
        if (!text.empty() && *end == '\0' && errno == 0) return u;
    }
    bad(option + " takes a whole number " + std::to_string(std::numeric_limits<std::int64_t>::min()) +
        ".." + std::to_string(std::numeric_limits<std::uint64_t>::max()) + "; got '" + text + "'");
}

void read_window(const std::string& text, tool_options& o)
{
    const auto x = text.find_first_of("xX");
    const std::string h = text.substr(0, x), w = x == std::string::npos ? h : text.substr(x + 1);
    constexpr long long most = std::numeric_limits<std::int32_t>::max();
    o.h = whole_number("--window", h, 1, most);
    o.w = whole_number("--window", w, 1, most);
}

void read_codes(const std::string& text, std::vector<rw::cell_code>& codes)
{
    std::size_t at = 0;
    while (true) {
        const auto comma = text.find(',', at);
        codes.push_back(code_of("--exclude", text.substr(at, comma - at)));
        if (comma == std::string::npos) return;
        at = comma + 1;
    }
}

} // namespace

const char* map_name(rw::map_kind map)
{
    for (const map_info& m : maps)
        if (m.map == map) return m.name;
    return "?";
}

bool is_random(rw::map_kind map) { return map == rw::map_kind::marnisa || map == rw::map_kind::dravix; }

command parse_command_line(int argc, const char* const argv[])
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help")
        return {std::nullopt, program_help()};
    const map_info* m = nullptr;
    for (const map_info& candidate : maps)
        if (args[0] == candidate.name) m = &candidate;
    if (!m) bad("unknown map '" + args[0] + "'; the maps are varnok, marnisa, sulmet, ombrel and dravix");

    tool_options o;
    o.map = m->map;
    std::vector<std::string> files;
    bool window_given = false, min_valid_given = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) bad(a + " needs a value");
            return args[++i];
        };
        if (a == "-h" || a == "--help") return {std::nullopt, map_help(*m)};
        else if (a == "--table") o.table_path = value();
        else if (a == "--window") {
            read_window(value(), o);
            window_given = true;
        } else if (a == "--seed" && is_random(o.map))
            o.seed = static_cast<std::uint32_t>(whole_number(a, value(), 0, 4294967295LL));
        else if (a == "--probes-per-cell" && o.map == rw::map_kind::dravix)
            o.probes_per_cell = static_cast<std::int32_t>(
                whole_number(a, value(), 0, std::numeric_limits<std::int32_t>::max()));
        else if (a == "--band") o.band = static_cast<int>(whole_number(a, value(), 1, 65535));
        else if (a == "--src-nodata") {
            const std::string& v = value();
            o.src_nodata_given = true;
            if (v == "none" || v == "None") o.src_nodata.reset();
            else o.src_nodata = code_of(a, v);
        } else if (a == "--exclude") read_codes(value(), o.exclude);
        else if (a == "--nodata-policy") {
            const std::string& v = value();
            if (v == "strict") o.policy = rw::nodata_policy::strict;
            else if (v == "renormalise" || v == "renormalize") o.policy = rw::nodata_policy::renormalise;
            else bad("--nodata-policy is strict or renormalise; got '" + v + "'");
        } else if (a == "--min-valid") {
            const std::string& v = value();
            char* end = nullptr;
            o.min_valid = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !(o.min_valid >= 0.0 && o.min_valid <= 1.0))
                bad("--min-valid takes a fraction 0..1 of the window; got '" + v + "'");
            min_valid_given = true;
        } else if (a == "--border") {
            const std::string& v = value();
            if (v != "nodata" && v != "zero") bad("--border is nodata or zero; got '" + v + "'");
            o.border_zero = v == "zero";
        } else if (a == "-of" || a == "--of" || a == "--format") o.format = value();
        else if (a == "--type" || a == "-ot") {
            const std::string& v = value();
            if (v != "Float64" && v != "Float32") bad("--type is Float64 or Float32; got '" + v + "'");
            o.float32 = v == "Float32";
        } else if (a == "--co" || a == "-co") {
            const std::string& v = value();
            const auto eq = v.find('=');
            if (eq == 0 || eq == std::string::npos) bad("--co takes NAME=VALUE; got '" + v + "'");
            o.creation_options.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (a == "--overwrite") o.overwrite = true;
        else if (a == "--threads")
            o.threads = rw::thread_count(whole_number(a, value(), 1, std::numeric_limits<long long>::max()));
        else if (a == "--strip-rows") o.strip_rows = whole_number(a, value(), 1, 1LL << 40);
        else if (a == "-q" || a == "--quiet") o.quiet = true;
        else if (a == "--seed" || a == "--probes-per-cell")
            bad(a + " applies to " + (a == "--seed" ? "marnisa and dravix" : "dravix") + " only");
        else if (a.size() > 1 && a[0] == '-')
            bad("unknown option " + a + " for " + m->name);
        else files.push_back(a);
    }
    if (o.table_path.empty()) bad(std::string(m->name) + " needs --table <file>");
    if (!window_given) bad(std::string(m->name) + " needs --window <h>[x<w>]");
    if (files.size() != 2)
        bad(std::string(m->name) + " takes an input and an output raster; got " +
            std::to_string(files.size()) + " file name" + (files.size() == 1 ? "" : "s"));
    if (min_valid_given && o.policy != rw::nodata_policy::renormalise)
        bad("--min-valid applies to --nodata-policy renormalise only");
    o.input = files[0];
    o.output = files[1];
    return {o, {}};
}

} // namespace cli
