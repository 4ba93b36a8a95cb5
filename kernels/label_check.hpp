// Label validation, kept free of any host so that every front end can turn
// its answer into its own kind of error.
#pragma once

#include "raster_window.hpp"

#include <cstdint>
#include <optional>

namespace rw {

// Rows r0 <= r < r1 and columns c0 <= c < c1 of a raster.
struct cell_block {
    index_t r0, r1, c0, c1;
};

inline cell_block whole_raster(index_t M, index_t N) { return {0, M, 0, N}; }

// A label outside 1..K and where it stands (0-based row and column).
struct bad_label {
    std::int32_t value;
    index_t row, col;
};

// The first label outside 1..K inside block b (clipped to the M x N raster),
// in column-major order, or nothing when every label there is valid.
std::optional<bad_label> find_bad_label(const std::int32_t* labels, index_t M, index_t N,
                                        index_t K, cell_block b);

} // namespace rw
