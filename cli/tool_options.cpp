#include "tool_options.hpp"

#include "tool_error.hpp"

#include "maps/catalogue.hpp"

#include <gdal.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <string_view>

namespace cli {
namespace {

// Text broken into lines of at most width characters, at spaces: the
// catalogue's one-line summaries as CLI11 prints them, unwrapped.
std::string wrapped(std::string_view text, std::size_t width = 72)
{
    std::string out, line;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t space = std::min(text.find(' ', at), text.size());
        const std::string_view word = text.substr(at, space - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + '\n';
            line.clear();
        }
        line += (line.empty() ? "" : " ") + std::string(word);
        at = space + 1;
    }
    return out + line;
}

// "a, b and c", or "a, b or c"
std::string listed(const std::vector<std::string>& names, const char* last = " and ")
{
    std::string s;
    for (std::size_t i = 0; i < names.size(); ++i)
        s += (i == 0 ? "" : i + 1 == names.size() ? last : ", ") + names[i];
    return s;
}

std::string map_names()
{
    std::vector<std::string> names;
    for (const rw::map_entry& m : rw::map_catalogue()) names.emplace_back(m.name);
    return listed(names);
}

// The names of a catalogue's entries (arithmetics, edge rules), in order.
template <class Entries>
std::vector<std::string> names_of(const Entries& entries)
{
    std::vector<std::string> names;
    for (const auto& e : entries) names.emplace_back(e.name);
    return names;
}

// "exact|plugin"
std::string choices(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : "|") + name;
    return text;
}

// What each entry of a catalogue gives, as an option's help; the first is
// the default, as tool_options has it.
template <class Entries>
std::string catalogue_help(const Entries& entries)
{
    std::string text;
    for (const auto& e : entries)
        text += (text.empty() ? "" : "\n") +
                wrapped(std::string(e.name) + (text.empty() ? " (default): " : ": ") + std::string(e.summary) + ".",
                        62);
    return text;
}

// GDAL's own spellings of three options. CLI11 gives single-dash names one
// letter, so these are read as their double-dash names.
std::string gdal_spelling(const std::string& arg)
{
    if (arg == "-of" || arg == "-co" || arg == "-ot") return "-" + arg;
    return arg;
}

std::string range_text(long long lo, unsigned long long hi) { return std::to_string(lo) + ".." + std::to_string(hi); }

bool whole_number(const std::string& text, long long lo, long long hi, long long& v)
{
    errno = 0;
    char* end = nullptr;
    v = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno != ERANGE && v >= lo && v <= hi;
}

// Any code of an integer band: Int64's least to UInt64's greatest.
std::optional<rw::cell_code> code_of(const std::string& text)
{
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end == '\0' && errno == 0) return v;
    if (text.find('-') == std::string::npos) { // strtoull would wrap a negative one
        errno = 0;
        const unsigned long long u = std::strtoull(text.c_str(), &end, 10);
        if (*end == '\0' && errno == 0) return u;
    }
    return std::nullopt;
}

const std::string code_range =
    range_text(std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::uint64_t>::max());

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    for (std::size_t at = 0;;) {
        const auto next = text.find(separator, at);
        parts.push_back(text.substr(at, next - at));
        if (next == std::string::npos) return parts;
        at = next + 1;
    }
}

// The checks of option values. Each returns what is wrong, which CLI11
// prints after the option's name, or nothing.
CLI::Validator whole_number_in(long long lo, long long hi)
{
    return {[lo, hi](std::string& text) {
                long long v = 0;
                return whole_number(text, lo, hi, v) ? std::string()
                                                     : "takes a whole number " + range_text(lo, static_cast<unsigned long long>(hi)) +
                                                           "; got '" + text + "'";
            },
            ""};
}

const CLI::Validator window_text{[](std::string& text) { return read_window(text).problem; }, ""};

const CLI::Validator codes{[](std::string& text) {
                               for (const std::string& code : split(text, ','))
                                   if (!code_of(code))
                                       return "takes a whole number " + code_range + "; got '" + code + "'";
                               return std::string();
                           },
                           ""};

const CLI::Validator fraction{[](std::string& text) {
                                  char* end = nullptr;
                                  const double v = std::strtod(text.c_str(), &end);
                                  return !text.empty() && *end == '\0' && v >= 0.0 && v <= 1.0
                                             ? std::string()
                                             : "takes a fraction 0..1 of the window; got '" + text + "'";
                              },
                              ""};

// One of `words`; an alias is read as its word.
CLI::Validator one_of(std::vector<std::string> words, std::map<std::string, std::string> aliases = {})
{
    return {[words, aliases](std::string& text) {
                if (const auto a = aliases.find(text); a != aliases.end()) text = a->second;
                for (const std::string& w : words)
                    if (text == w) return std::string();
                return "is " + listed(words, " or ") + "; got '" + text + "'";
            },
            ""};
}

// The help starts with the usage line, which names every option, so that
// it cannot miss one.
class usage_formatter final : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override
    {
        if (mode == CLI::AppFormatMode::Sub) return CLI::Formatter::make_help(app, name, mode);
        const std::string map = app->get_parent() ? app->get_name() + ": " : "";
        return make_usage(app, name) + "\n" + map + make_description(app) + make_positionals(app) +
               make_groups(app, mode) + make_subcommands(app, mode) + "\n" + make_footer(app);
    }

    std::string make_usage(const CLI::App* app, std::string name) const override
    {
        std::vector<std::string> words;
        for (const CLI::Option* opt : app->get_options([](const CLI::Option* o) { return o->nonpositional(); }))
            words.push_back(usage_word(*opt));
        if (!app->get_subcommands([](const CLI::App*) { return true; }).empty())
            words.emplace_back("<map> [options] input output");
        for (const CLI::Option* opt : app->get_options([](const CLI::Option* o) { return o->get_positional(); }))
            words.push_back(opt->get_name());
        const std::string start = "Usage: " + name;
        std::string text = start, line = start;
        for (const std::string& word : words) {
            if (line.size() + 1 + word.size() > 79 && line.size() > start.size()) {
                text += "\n" + std::string(start.size(), ' ');
                line = std::string(start.size(), ' ');
            }
            text += " " + word;
            line += " " + word;
        }
        return text + "\n";
    }

private:
    static std::string usage_word(const CLI::Option& opt)
    {
        std::string word;
        for (const std::string& s : opt.get_snames()) word += (word.empty() ? "-" : "|-") + s;
        for (const std::string& l : opt.get_lnames()) word += (word.empty() ? "--" : "|--") + l;
        if (const std::string type = opt.get_type_name(); !type.empty()) {
            word += " " + type.substr(0, type.find(" ("));
            if (opt.get_expected_max() >= CLI::detail::expected_max_vector_size) word += "...";
        }
        return opt.get_required() ? word : "[" + word + "]";
    }
};

std::string version_text()
{
    return std::string("raster-maps ") + RASTER_MAPS_VERSION + "\n" + GDALVersionInfo("--version");
}

} // namespace

const char* map_name(rw::map_kind map) { return rw::entry_of(map).name.data(); }
bool is_random(rw::map_kind map) { return rw::entry_of(map).random; }
bool takes_probes_per_cell(rw::map_kind map) { return rw::entry_of(map).takes_probes; }

command_line::command_line()
    : app_("Moving-window maps of a land-cover raster: every cell whose window fits the\n"
           "raster gets one score of the window (rectangle, circle or annulus) centred on it.\n",
           "raster-maps")
{
    auto formatter = std::make_shared<usage_formatter>();
    formatter->label("Subcommands", "Maps");
    formatter->column_width(26);
    app_.formatter(formatter);
    app_.set_help_flag("-h,--help", "this text");
    app_.set_version_flag("--version", version_text(), "the version of raster-maps and of GDAL");
    app_.footer("raster-maps <map> --help describes one map and every option.\n"
                "Example: raster-maps varnok --table quality.csv --window 21 landcover.tif quality21.tif");
    for (const rw::map_entry& m : rw::map_catalogue()) add_map(m.kind);
}

void command_line::add_map(rw::map_kind map)
{
    const rw::map_entry& m = rw::entry_of(map);
    CLI::App& sub = *app_.add_subcommand(std::string(m.name), wrapped(m.summary));
    // Options the map does not know are left over, to be named by
    // check_leftovers with the maps that do take them.
    sub.allow_extras();
    sub.footer("Input: band 1 (or --band) of any GDAL raster of an integer type, holding class\n"
               "codes. Output: a GeoTIFF (or --of) with the input's CRS and geotransform, one\n"
               "score per cell whose window lies inside the raster (--edges inside) or keeps\n"
               "the plug-ins' margins (--edges margin); other cells are nodata (NaN).\n\n"
               "The output is written in .<name>.incomplete-<pid>/ beside it and moved into\n"
               "place once complete. Exit status: 0 done, 1 error, 2 wrong command line, 128 +\n"
               "the signal's number when stopped by one (130 Ctrl-C, 143 SIGTERM), the partial\n"
               "output removed.");
    tool_options& o = o_;

    sub.add_option("--table", o.table_path,
                   std::string("CSV of code,value rows (a header line allowed), the value\nbeing ") + std::string(m.table) +
                       ".\nCodes become classes 1..K in increasing code order; a code\n"
                       "of the raster missing from the table is an error unless nodata.")
        ->required()
        ->type_name("FILE");
    sub.add_option_function<std::string>(
           "--window", [&o](const std::string& text) { o.window = *read_window(text).window; },
           "the window: H or HxW rows x columns (21 = 21x21), circle:R\n"
           "or annulus:R0,R1 (R0 < distance <= R1), in cells, or in\n"
           "metres with m (630m, 630x450m, circle:300m, annulus:150m,300m;\n"
           "a projected CRS, whose pixel size turns metres into cells).")
        ->required()
        ->type_name("SIZE|circle:R|annulus:R0,R1")
        ->check(window_text);
    sub.add_option_function<std::string>(
           "--edges", [&o](const std::string& text) { o.edges = rw::find_edges(text)->kind; },
           catalogue_help(rw::edge_catalogue()))
        ->type_name(choices(names_of(rw::edge_catalogue())))
        ->check(one_of(names_of(rw::edge_catalogue())));
    if (m.random)
        sub.add_option_function<std::uint32_t>(
               "--seed", [&o](std::uint32_t seed) { o.seed = seed; },
               "seed of the random draws; default: the clock second.\n"
               "The seed used is printed and kept in the metadata.")
            ->type_name("N (" + range_text(0, std::numeric_limits<std::uint32_t>::max()) + ")")
            ->check(whole_number_in(0, std::numeric_limits<std::uint32_t>::max()));
    if (m.takes_probes)
        sub.add_option("--probes-per-cell", o.probes_per_cell,
                       "probes per raster cell, shared among the points\n(default " +
                           std::to_string(rw::default_probes_per_cell) + ").")
            ->type_name("N (" + range_text(0, std::numeric_limits<std::int32_t>::max()) + ")")
            ->check(whole_number_in(0, std::numeric_limits<std::int32_t>::max()));
    sub.add_option("--band", o.band, "band to read (default 1).")
        ->type_name("N (1..65535)")
        ->check(whole_number_in(1, 65535));
    sub.add_option_function<std::string>(
           "--src-nodata",
           [&o](const std::string& text) {
               o.src_nodata_given = true;
               o.src_nodata = text == "none" ? std::nullopt : code_of(text);
           },
           "code of nodata cells instead of the input's nodata value;\n"
           "none ignores the input's nodata value.")
        ->type_name("CODE|none")
        ->check(CLI::Validator(
            [](std::string& text) {
                if (text == "None") text = "none";
                return text == "none" || code_of(text) ? std::string()
                                                       : "takes none or a whole number " + code_range + "; got '" + text + "'";
            },
            ""));
    sub.add_option_function<std::vector<std::string>>(
           "--exclude",
           [&o](const std::vector<std::string>& lists) {
               for (const std::string& list : lists)
                   for (const std::string& code : split(list, ',')) o.exclude.push_back(*code_of(code));
           },
           "codes treated as nodata too (repeatable).")
        ->type_name("CODE[,CODE]")
        ->allow_extra_args(false)
        ->check(codes);
    CLI::Option* policy =
        sub.add_option_function<std::string>(
               "--nodata-policy",
               [&o](const std::string& text) {
                   o.policy = text == "strict" ? rw::nodata_policy::strict : rw::nodata_policy::renormalise;
               },
               "strict (default): a window holding any nodata cell is nodata.\n"
               "renormalise: its score over the valid cells only (means,\n"
               "proportions, densities over the count of valid cells).")
            ->type_name("strict|renormalise")
            ->check(one_of({"strict", "renormalise"}, {{"renormalize", "renormalise"}}));
    sub.add_option("--min-valid", o.min_valid,
                   "fraction 0..1 of the window's cells that must be valid\n"
                   "(default 0.5; at least one cell always).")
        ->type_name("F")
        ->check(fraction)
        ->needs(policy);
    sub.add_option_function<std::string>(
           "--arithmetic", [&o](const std::string& text) { o.arithmetic = rw::find_arithmetic(text)->kind; },
           catalogue_help(rw::arithmetic_catalogue()))
        ->type_name(choices(names_of(rw::arithmetic_catalogue())))
        ->check(one_of(names_of(rw::arithmetic_catalogue())));
    sub.add_option_function<std::string>(
           "--border", [&o](const std::string& text) { o.border_zero = text == "zero"; },
           "cells no window scores: nodata (default) or 0.")
        ->type_name("nodata|zero")
        ->check(one_of({"nodata", "zero"}));
    sub.add_option("--of,--format", o.format,
                   "GDAL driver of the output, also -of (default GTiff; COG and\n"
                   "any driver that writes files and can create or copy rasters\nof the type).")
        ->type_name("FORMAT");
    sub.add_option_function<std::string>(
           "--type,--ot", [&o](const std::string& text) { o.float32 = text == "Float32"; },
           "output data type (default Float64), also -ot.")
        ->type_name("Float64|Float32")
        ->check(one_of({"Float64", "Float32"}));
    sub.add_option_function<std::vector<std::string>>(
           "--co",
           [&o](const std::vector<std::string>& items) {
               for (const std::string& item : items) {
                   const auto eq = item.find('=');
                   o.creation_options.emplace_back(item.substr(0, eq), item.substr(eq + 1));
               }
           },
           "creation option of the driver, also -co (repeatable; one the\n"
           "driver does not list is an error); GTiff defaults: TILED=YES\n"
           "COMPRESS=DEFLATE ZLEVEL=1 PREDICTOR=3 BIGTIFF=IF_SAFER\n"
           "NUM_THREADS=<the threads>.")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& text) {
                const auto eq = text.find('=');
                return eq == 0 || eq == std::string::npos ? "takes NAME=VALUE; got '" + text + "'" : std::string();
            },
            ""));
    sub.add_flag("--overwrite", o.overwrite,
                 "replace an existing output; only a regular file, never a file\n"
                 "of the input. Without it, an output that appears while the\n"
                 "map runs is not replaced either.");
    sub.add_option_function<long long>(
           "--threads", [&o](long long n) { o.threads = rw::thread_count(n); },
           "threads (default: every core, or RASTER_MAPS_THREADS); at most\n"
           "4 per core are used, by the maps and by GDAL's compression.")
        ->type_name("N")
        ->check(whole_number_in(1, std::numeric_limits<long long>::max()));
    sub.add_option("--strip-rows", o.strip_rows, "rows read per strip (default: from the width and window).")
        ->type_name("N (1..1099511627776)")
        ->check(whole_number_in(1, 1LL << 40));
    sub.add_flag("-q,--quiet", o.quiet,
                 "no progress bar or notes on standard error (GDAL's warnings\nstill show).");
    sub.add_option("input", o.input, "the raster of class codes to map.")->required()->type_name("");
    sub.add_option("output", o.output, "the raster to write.")->required()->type_name("");
}

// What the map's parser left over: an option it does not take, or a file
// name too many.
void command_line::check_leftovers(const CLI::App& map) const
{
    for (const std::string& arg : map.remaining()) {
        if (arg.size() < 2 || arg[0] != '-') continue;
        const std::string name = arg.substr(0, arg.find('='));
        std::vector<std::string> takers;
        for (const CLI::App* other : app_.get_subcommands([](const CLI::App*) { return true; }))
            if (other->get_option_no_throw(name) != nullptr) takers.push_back(other->get_name());
        if (!takers.empty()) throw usage_error(name + " applies to " + listed(takers) + " only");
        throw usage_error("unknown option " + arg + " for " + map.get_name());
    }
    const std::size_t files = map.get_option("input")->count() + map.get_option("output")->count() + map.remaining().size();
    if (files != 2)
        throw usage_error(map.get_name() + " takes an input and an output raster; got " + std::to_string(files) +
                          " file name" + (files == 1 ? "" : "s"));
}

command command_line::parse(int argc, const char* const argv[])
{
    std::vector<std::string> args; // CLI11 takes them last first
    for (int i = argc - 1; i >= 1; --i) args.push_back(gdal_spelling(argv[i]));
    if (args.empty() || args.back() == "help") return {std::nullopt, app_.help()};
    if (args.back()[0] != '-' && app_.get_subcommands([&](const CLI::App* s) { return s->get_name() == args.back(); }).empty())
        throw usage_error("unknown map '" + args.back() + "'; the maps are " + map_names());

    const auto chosen = [&]() -> const CLI::App* {
        const auto parsed = app_.get_subcommands();
        return parsed.empty() ? nullptr : parsed.front();
    };
    try {
        app_.parse(args);
    } catch (const CLI::CallForHelp&) {
        return {std::nullopt, app_.help()};
    } catch (const CLI::CallForVersion& e) {
        return {std::nullopt, std::string(e.what()) + "\n"};
    } catch (const CLI::RequiredError& e) {
        if (const CLI::App* map = chosen()) check_leftovers(*map);
        throw usage_error(e.what());
    } catch (const CLI::ParseError& e) {
        // CLI11 checks values before it looks for --help; help still wins.
        const CLI::App* map = chosen();
        if (app_.get_help_ptr()->count() > 0 || (map && map->get_help_ptr()->count() > 0))
            return {std::nullopt, app_.help()};
        throw usage_error(e.what());
    }
    const CLI::App* map = chosen();
    if (!map) throw usage_error("no map given; the maps are " + map_names());
    check_leftovers(*map);
    if (map->get_option("--min-valid")->count() > 0 && o_.policy != rw::nodata_policy::renormalise &&
        o_.edges != rw::edge_rule::partial)
        throw usage_error("--min-valid applies to --nodata-policy renormalise or --edges partial only");
    o_.map = rw::find_map(map->get_name())->kind;
    return {o_, {}};
}

} // namespace cli
