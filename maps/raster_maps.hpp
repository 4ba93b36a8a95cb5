// The core's entry: one call runs one whole map, for every front end.
//
//   rw::map_request q{rw::map_kind::varnok, table, K, h, w};
//   if (auto problem = rw::validate(q, labels)) { ... report it ... }
//   rw::run_map(q, labels, out);              // labels, out: any raster_view
//
// or, for rasters larger than memory, rw::stream_map(q, M, N, source, sink),
// which reads label rows in strips and hands finished output rows on in
// order. Both give the same bits for every layout, strip height and number
// of threads.
#pragma once

#include "kernels/footprint.hpp"
#include "kernels/label_check.hpp"
#include "kernels/raster_window.hpp"
#include "kernels/row_strips.hpp"
#include "kernels/worker_pool.hpp"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace rw {

enum class map_kind { varnok, marnisa, sulmet, ombrel, dravix };

inline constexpr std::int32_t default_probes_per_cell = 12;

// What a window holding nodata cells receives. strict: nodata (NaN).
// renormalise: its score over the valid cells only (means, proportions and
// densities over the count V of valid cells), or NaN when fewer than
// min_valid of its h * w cells are valid.
enum class nodata_policy { strict, renormalise };

inline constexpr double default_min_valid = 0.5;

// How window sums are computed. plugin: the plug-ins' own arithmetic, bit
// for bit (a summed-area table of doubles, so a window's sum carries the
// rounding of sums over the whole raster above and left of it). exact:
// every window's sums and counts are exact, whatever the raster's size or
// the window's place; Varnok's and Marnisa's means are correctly rounded,
// Sulmet's and Ombrel's scores lie within a few ulps, and Dravix's
// densities (exact counts under either) are correctly rounded.
enum class arithmetic { plugin, exact };

// Which centre cells are scored. margin: the plug-ins' layout, windows at
// least 10 cells from the top and left edges and 11 from the bottom and
// right. inside: every window that lies wholly inside the raster. partial:
// every cell, a window reaching past the raster being scored over its
// cells inside it, as renormalise scores nodata (min_valid applying to the
// share of the window inside and valid; under strict, a nodata cell inside
// still gives NaN). partial needs exact arithmetic.
enum class edge_rule { margin, inside, partial };

// What to compute. table holds K class values; label k reads table[k - 1].
// The window is the rectangle h x w, or the circle or annulus `footprint`
// within its extent h x w (set both with set_footprint); only sizes matter. probes_per_cell is Dravix's; seed
// fixes every draw of the random maps (Marnisa, Dravix).
//
// With nodata set, label K + 1 marks cells that hold no class. They are
// never sampled and draw nothing, and the maps treat them as a class of
// value 0, so a window without nodata gets exactly the score it would get
// without this setting; a window with some gets what the policy says.
struct map_request {
    map_kind map = map_kind::varnok;
    const double* table = nullptr;
    index_t K = 0;
    index_t h = 0, w = 0;
    std::int32_t probes_per_cell = default_probes_per_cell;
    std::uint32_t seed = 0;
    bool nodata = false;
    nodata_policy policy = nodata_policy::strict;
    double min_valid = default_min_valid; // fraction of the window, renormalise only
    rw::arithmetic arithmetic = rw::arithmetic::plugin;
    edge_rule edges = edge_rule::margin;
    rw::footprint footprint = {}; // a rectangle unless set
};

// Makes f the request's window: its footprint, and h x w its extent (for a
// rectangle, f leaves h and w as they are). Check the request afterwards.
void set_footprint(map_request& q, const footprint& f);

// The number of cells of the request's window: h * w for a rectangle
// (saturated at 2^63 - 1).
index_t window_cells(const map_request& q);

// What is wrong with a request or its labels, and where.
enum class problem_kind {
    empty_window,           // h or w is 0 or less
    bad_probes_per_cell,    // negative; value holds it
    label_out_of_range,     // value holds the label, row and col its cell (0-based)
    empty_table,            // K is 0 or less: no class has a value
    non_finite_class_value, // value holds the label k whose table[k - 1] the map cannot use
    bad_min_valid,          // min_valid is not a fraction 0..1
    window_too_large,       // value holds h * w (saturated): above most_sulmet_window_cells
                            // for Sulmet, or 2^31 - 1 with nodata (valid counts are 32-bit)
    bad_footprint,          // a circle or annulus that check_footprint refuses (value: the
                            // footprint_fault), or whose extent is not h x w (value: 0)
    footprint_needs_exact,  // a circle or annulus under the plug-ins' arithmetic, which is
                            // defined for rectangles only
    edges_need_exact,       // partial edges under the plug-ins' arithmetic, likewise
                            // defined for whole windows only
};

// Sulmet sums the squares of its windows' class counts exactly in 64 bits,
// so a window it scores holds at most floor(sqrt(2^63 - 1)) cells.
inline constexpr index_t most_sulmet_window_cells = 3037000499;

// Whether the map computes with table value v: Varnok, Sulmet and Ombrel
// with every class value, so NaN and infinities would spread over whole
// rows; Marnisa only with the values it selects, and NaN or -Inf are never
// selected, while +Inf always is; Dravix only compares its values with the
// sampling scale, where NaN and infinities have their rules.
bool usable_class_value(map_kind map, double v);

struct request_problem {
    problem_kind kind;
    std::int64_t value = 0;
    index_t row = -1, col = -1;
};

// The request alone: the table (K >= 1, every value usable by the map, the
// first bad class reported), then the window, then probes_per_cell.
std::optional<request_problem> check_request(const map_request& q);

// The request for an M x N raster: check_request, then the sizes that only
// matter when some window is scored.
std::optional<request_problem> check_request(const map_request& q, index_t M, index_t N);

// The labels a request accepts: 1..K, and K + 1 with nodata.
inline index_t label_count(const map_request& q) { return q.K + (q.nodata ? 1 : 0); }

// The least count of valid cells for which a window is scored: all h * w
// under the strict policy, min_valid of them (at least one) when
// renormalising; 0 without nodata, where every window is whole (and h * w,
// for a window larger than any raster, may not even fit in 64 bits).
index_t least_valid_cells(const map_request& q);

// Top-left corners of the windows scored on an M x N raster, by the edge
// rule: the map's own layout under margin, every window inside the raster
// under inside.
scored_positions window_positions(const map_request& q, index_t M, index_t N);

// The cells that receive a score (the centres of the scored windows); every
// other output cell stays 0.
cell_block scored_cells(const map_request& q, index_t M, index_t N);

// Sets every cell of out outside scored_cells to value, e.g. NaN for
// outputs that mark unscored cells as nodata. out may be a band of rows.
void fill_unscored(const map_request& q, index_t M, index_t N, raster_view<double> out,
                   double value);

// The cells whose labels the map uses as classes (each must be in 1..K):
// every cell for Varnok, Marnisa and Sulmet; the block under Ombrel's
// windows; Dravix's sampling region. Other labels are never read, or only
// compared with each other.
cell_block label_block(const map_request& q, index_t M, index_t N);

// Everything a map needs checked before it runs: the request, then the first
// bad label (in column-major order) of the rows of `labels` that lie in the
// map's label block. labels may be a band of rows of an M x N raster.
std::optional<request_problem> validate(const map_request& q, index_t M, index_t N,
                                        raster_view<const std::int32_t> labels);
inline std::optional<request_problem> validate(const map_request& q,
                                               raster_view<const std::int32_t> labels)
{
    return validate(q, labels.rows, labels.cols, labels);
}

// How many times stream_map reads each label row: twice for a map that
// counts before it scores (Dravix, when it scores a window), else once.
int label_passes(const map_request& q, index_t M, index_t N);

// Thrown by run_map and stream_map for input that fails validation.
class invalid_request : public std::exception {
public:
    explicit invalid_request(request_problem p) : problem(p) {}
    const char* what() const noexcept override { return "invalid map request"; }
    request_problem problem;
};

// Runs the map over the M x N labels into out (M x N, all 0 on entry): each
// scored window's value goes to its centre cell, other cells stay 0. Throws
// invalid_request, std::bad_alloc when memory runs out, and interrupted when
// options.interrupted asked to stop (out is then partly written).
void run_map(const map_request& q, raster_view<const std::int32_t> labels, raster_view<double> out,
             const run_options& options = {});

// The same map over an M x N raster read strip by strip. Working memory is
// O((h + strip rows) x N) whatever M is. Labels are validated strip by strip,
// so an invalid_request (or interrupted) may come after some rows were
// written.
void stream_map(const map_request& q, index_t M, index_t N, label_source& source,
                output_sink& sink, const run_options& options = {});

} // namespace rw
