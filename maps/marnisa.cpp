// Sampled class-value mean map: every cell takes part only at random, with
// its class value as the chance (the class's sampling threshold), and a
// selected cell contributes that same value. Each scored cell receives the
// mean over its window, where unselected cells count as 0.
//
// Cells are decided row by row over the whole raster, one draw per cell whose
// threshold is positive, from a generator seeded with the request's seed.
#include "catalogue.hpp"
#include "value_table.hpp"

#include <limits>

namespace rw {

const value_rules marnisa_rules{true, make_mean_scorer, true, true};

// NaN and -Inf are never selected, so only +Inf, always selected, would
// spread over the sums.
extern const map_entry marnisa_entry{
    map_kind::marnisa, "marnisa", "Marnisa",
    "mean of the class value over the window, each cell kept only at random with its class "
    "value as the chance (cells not kept count as 0)",
    "the class value of each code, also its chance to be kept", true, false,
    map_engine::value_table, std::numeric_limits<index_t>::max(),
    usable_values::below_infinity, scored_positions_of,
    every_label, all_cells, &marnisa_rules};

} // namespace rw
