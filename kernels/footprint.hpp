// Window footprints: the cells a window holds, as offsets from its centre
// cell. A rectangle holds every cell of its h x w extent; a circle of radius
// R the offsets (di, dj) with (di ry)^2 + (dj rx)^2 <= R^2, and an annulus
// those with R0^2 < (di ry)^2 + (dj rx)^2 <= R1^2, rx and ry being the
// width and height of a cell in the radii's units (1 when radii are in
// cells). The sums are in doubles, so a cell at exactly R is in.
//
// A circle's or annulus's extent is 2 floor(R / ry) + 1 rows by
// 2 floor(R / rx) + 1 columns, R its outer radius, centred on the window's
// centre cell (floor(h / 2), floor(w / 2)) as for rectangles. Maps see a
// footprint as its row spans: on each row of the extent, the runs of
// consecutive columns it holds (one per row for a circle, up to two for an
// annulus).
#pragma once

#include "raster_window.hpp"

#include <optional>
#include <vector>

namespace rw {

enum class window_shape { rectangle, circle, annulus };

struct footprint {
    window_shape shape = window_shape::rectangle;
    double inner = 0.0, outer = 0.0;              // annulus: inner < distance <= outer; circle: outer
    double cell_height = 1.0, cell_width = 1.0;   // ry and rx
};

struct window_extent {
    index_t h = 0, w = 0;
};

// What is wrong with a circle or annulus, if anything: radii that are not
// finite, negative or (annulus) not increasing, cell sizes that are not
// positive and finite, an extent beyond 2^31 - 1 cells a side, or no cell.
enum class footprint_fault { none, bad_radius, bad_cell_size, too_large, no_cell };
// (A request whose h x w is not its footprint's extent is refused too.)
footprint_fault check_footprint(const footprint& f);

// The extent of a circle or annulus (check_footprint first).
window_extent extent_of(const footprint& f);

// Columns c0 .. c1-1 of row `row` of a window's extent, from its top-left.
struct footprint_span {
    index_t row, c0, c1;
};

// The row spans of footprint f over an h x w extent (that of extent_of for
// a circle or annulus; any h x w for a rectangle, one span per row), rows
// in increasing order and spans along a row left to right.
std::vector<footprint_span> spans_of(const footprint& f, index_t h, index_t w);

// The number of cells of a footprint's spans.
index_t cells_of(const std::vector<footprint_span>& spans);

// A window as the maps read it: its h x w extent, its cells, its row spans
// and the same cells as a few disjoint boxes (rows of equal spans stacked),
// all relative to the window's top-left corner. A rectangle is one box.
struct window_layout {
    index_t h = 0, w = 0, cells = 0;
    bool rectangle = true;
    std::vector<footprint_span> spans;
    std::vector<cell_block> boxes;
};

window_layout layout_of(const footprint& f, index_t h, index_t w);

} // namespace rw
