// Label validation, kept free of any host so that every front end can turn
// its answer into its own kind of error.
#pragma once

#include "raster_window.hpp"

#include <cstdint>
#include <optional>

namespace rw {

// A label outside 1..K and where it stands (0-based row and column).
struct bad_label {
    std::int32_t value;
    index_t row, col;
};

// The first label outside 1..K inside block b (clipped to the view), first
// in column-major order (least column, then least row) whatever the view's
// layout, or nothing when every label there is valid.
std::optional<bad_label> find_bad_label(raster_view<const std::int32_t> labels, index_t K,
                                        cell_block b);

} // namespace rw
