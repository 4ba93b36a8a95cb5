// A map request and its label raster, decoded from a fuzzer's bytes. Every
// byte string decodes to some case, valid or not: sizes and windows near the
// margins, tables with NaN, infinities, huge and negative values, labels out
// of range and at the int32 extremes, any probe count and seed, either
// arithmetic.
#pragma once

#include "maps/raster_maps.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rw::fuzz {

// Bounds that keep one case to a few milliseconds on three paths. Rasters
// reach past a window of the largest side plus its 21 margin cells, so
// windows are scored as well as left out.
inline constexpr index_t max_side = 96;
inline constexpr index_t max_window_side = 64;
inline constexpr index_t max_classes = 64;

struct fuzz_case {
    map_request request;
    index_t M = 0, N = 0;
    std::vector<double> table;
    std::vector<std::int32_t> labels; // column-major, M x N
    index_t strip_rows = 1;           // strip height of the streamed path
    // The tiling of the tiled path: cuts from 0 to M and from 0 to N.
    std::vector<index_t> row_cuts, col_cuts;

    std::string describe() const;
};

fuzz_case decode_case(map_kind map, const std::uint8_t* data, std::size_t size);

} // namespace rw::fuzz
