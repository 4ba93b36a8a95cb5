// The catalogue of maps: everything the core and its front ends need to know
// about a map besides its arithmetic. Adding a map is one source file with
// its rules and its entry, and one line in catalogue.cpp; front ends build
// their lists of maps (subcommands, functions, help) from map_catalogue().
#pragma once

#include "kernels/raster_window.hpp"

#include <cmath>
#include <limits>
#include <memory>
#include <span>
#include <string_view>

namespace rw {

enum class map_kind;
enum class arithmetic;
enum class edge_rule;
struct map_request;
struct value_rules;

// How a map's windows are computed, which decides how a tiled run carries
// state between tiles.
enum class map_engine {
    value_table,   // a summed-area table of per-cell values (maybe sampled)
    running_score, // a score carried along each row of windows (Ombrel)
    thinned_points // points drawn, probed and thinned, then counted (Dravix)
};

// The class values a map computes with (see usable_class_value).
enum class usable_values {
    finite,         // every value enters the sums: NaN and infinities would spread
    below_infinity, // NaN and -Inf are never selected; +Inf always would be
    any             // values are only compared with the sampling scale
};

inline bool usable(usable_values rule, double v)
{
    switch (rule) {
    case usable_values::finite: return std::isfinite(v);
    case usable_values::below_infinity: return v != std::numeric_limits<double>::infinity();
    case usable_values::any: break;
    }
    return true;
}

struct map_entry {
    map_kind kind;
    std::string_view name;    // lower case, as front ends spell it: "varnok"
    std::string_view title;   // as the plug-ins spell it: "Varnok"
    std::string_view summary; // what a window's score is, in one line
    std::string_view table;   // what a class's table value means to the map
    bool random;              // draws from the seeded generator
    bool takes_probes;        // reads probes_per_cell
    map_engine engine;
    // The most cells a scored window may hold (exact sums that must fit).
    index_t most_window_cells;
    usable_values values_used;
    // Top-left corners of the windows scored on an M x N raster under the
    // plug-ins' layout (edge_rule::margin).
    scored_positions (*positions)(index_t M, index_t N, index_t h, index_t w);
    // The cells whose labels the map uses as classes, the windows scored
    // being those of window_positions.
    cell_block (*label_block)(const map_request& q, index_t M, index_t N);
    // The cells that take a sampling draw, in row-major order (none for a
    // map that draws nothing).
    cell_block (*sampled_block)(index_t M, index_t N, index_t h, index_t w);
    // The rules of a value_table map (value_table.hpp), else nullptr.
    const value_rules* values;
};

// Every map, in the order front ends list them.
std::span<const map_entry> map_catalogue();

const map_entry& entry_of(map_kind map);

// The entry named `name` (lower case), or nullptr.
const map_entry* find_map(std::string_view name);

// A way of computing window sums, as front ends name and explain it.
struct arithmetic_entry {
    arithmetic kind;
    std::string_view name;    // as front ends spell it: "exact"
    std::string_view summary; // what it gives and when to pick it, in one line
};

// Every arithmetic. The first, exact, is what front ends ask for unless
// told otherwise; map_request's own default stays the plug-ins'.
std::span<const arithmetic_entry> arithmetic_catalogue();

const arithmetic_entry& entry_of(arithmetic a);

// The arithmetic named `name`, or nullptr.
const arithmetic_entry* find_arithmetic(std::string_view name);

// An edge rule, as front ends name and explain it.
struct edge_entry {
    edge_rule kind;
    std::string_view name;    // as front ends spell it: "inside"
    std::string_view summary; // which cells it scores and when to pick it, in one line
};

// Every edge rule. The first, inside, is what front ends ask for unless
// told otherwise; map_request's own default stays the plug-ins' margin.
std::span<const edge_entry> edge_catalogue();

const edge_entry& entry_of(edge_rule e);

// The edge rule named `name`, or nullptr.
const edge_entry* find_edges(std::string_view name);

// Geometry shared by entries.
inline cell_block no_cells(index_t, index_t, index_t, index_t) { return {0, 0, 0, 0}; }
inline cell_block all_cells(index_t M, index_t N, index_t, index_t) { return whole_raster(M, N); }
inline cell_block every_label(const map_request&, index_t M, index_t N) { return whole_raster(M, N); }

} // namespace rw
