// How the core runs a request with nodata: the maps see the nodata cells as
// one more class, K + 1 of value 0. Such cells then add 0 to every sum, have
// sampling threshold 0 (never selected, no draw) and never match a point's
// class, so the maps only change how a window with nodata is divided: by its
// count of valid cells (window_valid_counts).
#pragma once

#include "kernels/valid_cells.hpp"
#include "maps/raster_maps.hpp"

#include <vector>

namespace rw {

// The request a map runs: with nodata, K + 1 classes, the last of value 0
// and standing for nodata.
struct map_setup {
    map_request q;
    std::vector<double> table;

    explicit map_setup(const map_request& request);
    map_setup(const map_setup&) = delete;
    map_setup& operator=(const map_setup&) = delete;
};

// Valid-cell counts for a map running request `run` (from map_setup) on an
// M x N raster, over the columns of block b from its first row (a whole
// raster, or a tile's halo) in strips of strip_rows; inactive without
// nodata. A block without columns builds nothing.
window_valid_counts valid_counts_over(const map_request& run, index_t M, index_t N, cell_block b,
                                      index_t strip_rows);

} // namespace rw
