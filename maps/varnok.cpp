// Class-value mean map: every scored cell receives the mean, over its window,
// of the class value of each cell.
#include "catalogue.hpp"
#include "value_table.hpp"

#include <cmath>
#include <limits>

namespace rw {

const value_rules varnok_rules{false, make_mean_scorer, true, true};

extern const map_entry varnok_entry{
    map_kind::varnok, "varnok", "Varnok", "mean of the class value over the window's cells",
    "the class value of each code", false, false, map_engine::value_table,
    std::numeric_limits<index_t>::max(), usable_values::finite,
    scored_positions_of, every_label, no_cells, &varnok_rules};

} // namespace rw
