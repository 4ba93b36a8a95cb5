// The one runner of the maps. A run is the raster cut into tiles, rows of
// tiles taken from the top, tiles of a row from the left; each tile is
// computed by the map's tile functions (tiles.hpp) from its labels and the
// carries of the tiles before it. A whole raster, in memory or streamed, is
// a column of strips, tiles as wide as the raster; any other tiling gives the
// same bits. Label rows come in, and output rows go out, in order, so
// memory is bounded by a tile row and a window whatever M is.
#pragma once

#include "maps/raster_maps.hpp"

#include "kernels/worker_pool.hpp"

#include <vector>

namespace rw {

// The labels of a run, band after band of rows, each pass from the top.
class label_rows {
public:
    virtual ~label_rows() = default;
    // Starts a pass in which each band keeps `kept` rows above its new ones.
    virtual void start_pass(index_t kept) = 0;
    // Rows a .. b-1 (a = 0, or the previous b) and the kept rows above:
    // rows max(0, a - kept) .. b-1, all columns, checked.
    virtual label_view next(index_t a, index_t b) = 0;
};

// Where output rows go: open(r0, r1) gives rows r0 .. r1-1, all 0, to
// write; close hands them on once they are final. Rows come in order.
class output_rows {
public:
    virtual ~output_rows() = default;
    virtual raster_view<double> open(index_t r0, index_t r1) = 0;
    virtual void close(index_t r0, index_t r1, raster_view<double> rows) = 0;
};

// Tile boundaries: increasing, 0 first, M (rows) or N (cols) last.
struct tile_cuts {
    std::vector<index_t> rows, cols;
};

// Tile rows of strip_rows rows, each as wide as the raster.
tile_cuts strips(index_t M, index_t N, index_t strip_rows);

// Runs the checked request q over the M x N raster cut at `cuts`.
void run_tiles(const map_request& q, index_t M, index_t N, const tile_cuts& cuts, label_rows& labels,
               output_rows& out, worker_pool& pool);

// The map over labels in memory, cut at row_cuts and col_cuts, into out
// (all 0 on entry), on the calling thread: the same bits as run_map.
void run_tiled(const map_request& q, label_view labels, raster_view<double> out,
               const std::vector<index_t>& row_cuts, const std::vector<index_t>& col_cuts);

} // namespace rw
