// The command line of raster-maps: one subcommand per map, then options,
// the input raster and the output raster.
#pragma once

#include "maps/class_codes.hpp"
#include "maps/raster_maps.hpp"
#include "window_option.hpp"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cli {

struct tool_options {
    rw::map_kind map = rw::map_kind::varnok;
    std::string table_path;
    window_spec window;
    rw::edge_rule edges = rw::edge_rule::inside;    // the first of rw::edge_catalogue()
    std::optional<std::uint32_t> seed;
    std::int32_t probes_per_cell = rw::default_probes_per_cell;
    int band = 1;
    // --src-nodata: a code, or "none" to ignore the input's own nodata value.
    bool src_nodata_given = false;
    std::optional<rw::cell_code> src_nodata;
    std::vector<rw::cell_code> exclude;
    rw::nodata_policy policy = rw::nodata_policy::strict;
    double min_valid = rw::default_min_valid;
    rw::arithmetic arithmetic = rw::arithmetic::exact; // the first of rw::arithmetic_catalogue()
    bool border_zero = false;
    std::string format = "GTiff";
    bool float32 = false;
    std::vector<std::pair<std::string, std::string>> creation_options; // --co KEY=VALUE, in order
    bool overwrite = false;
    bool quiet = false;
    int threads = 0;
    rw::index_t strip_rows = 0;
    std::string input, output;
};

// What the command line asks for: a run, or text to print (help, version).
struct command {
    std::optional<tool_options> run;
    std::string text;
};

// The parser of the command line. Every option is declared once, with its
// help, range and dependencies, and the usage line, the help and the
// parsing all come from that declaration.
class command_line {
public:
    command_line();
    command_line(const command_line&) = delete;
    command_line& operator=(const command_line&) = delete;

    // Throws usage_error for anything it cannot read.
    command parse(int argc, const char* const argv[]);

    // The program, with one subcommand per map.
    const CLI::App& app() const { return app_; }
    // The usage line of the program or of one map's subcommand.
    std::string usage(const CLI::App& app) const;

private:
    void add_map(rw::map_kind map);
    void check_leftovers(const CLI::App& map) const;

    CLI::App app_;
    tool_options o_;
};

const char* map_name(rw::map_kind map);
bool is_random(rw::map_kind map);
bool takes_probes_per_cell(rw::map_kind map);

} // namespace cli
