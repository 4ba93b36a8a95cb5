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

#include <algorithm>
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
// A clipped layout's windows may reach past an M x N raster: only their
// cells inside it count, and rectangles go the way of other footprints.
struct window_layout {
    index_t h = 0, w = 0, cells = 0;
    bool rectangle = true;
    std::vector<footprint_span> spans;
    std::vector<cell_block> boxes;
    bool clipped = false;
    index_t M = 0, N = 0; // the raster, when clipped

    bool holds(index_t r, index_t c) const { return !clipped || (r >= 0 && r < M && c >= 0 && c < N); }
    // The cells of the window with top-left (i, j) inside the raster.
    index_t cells_inside(index_t i, index_t j) const
    {
        if (!clipped) return cells;
        index_t n = 0;
        for (const cell_block& b : boxes) {
            const index_t rows = std::min(M, i + b.r1) - std::max<index_t>(0, i + b.r0);
            const index_t cols = std::min(N, j + b.c1) - std::max<index_t>(0, j + b.c0);
            if (rows > 0 && cols > 0) n += rows * cols;
        }
        return n;
    }
};

window_layout layout_of(const footprint& f, index_t h, index_t w);

// The same, its windows clipped to an M x N raster.
window_layout clipped_layout_of(const footprint& f, index_t h, index_t w, index_t M, index_t N);

} // namespace rw
