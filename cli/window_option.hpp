// The --window option: a rectangle, circle or annulus, its sizes in cells
// or in metres. Reading the text needs nothing but the text; a window in
// metres becomes cells only once the input's pixel size is known.
#pragma once

#include "maps/raster_maps.hpp"

#include <optional>
#include <string>

namespace cli {

enum class size_unit { cells, metres };

struct window_spec {
    rw::window_shape shape = rw::window_shape::rectangle;
    double height = 0.0, width = 0.0; // rectangle: rows and columns, or metres
    double inner = 0.0, outer = 0.0;  // annulus: inner < distance <= outer; circle: outer
    size_unit unit = size_unit::cells;
    std::string text; // as the user wrote it
};

// What the option's help says it takes.
extern const char* const window_syntax;

// The window `text` describes, or what is wrong with it (a phrase that
// follows the option's name: "takes H, HxW, ...; got 'x'").
struct window_reading {
    std::optional<window_spec> window;
    std::string problem;
};
window_reading read_window(const std::string& text);

// The size of a cell in metres, rows by columns.
struct cell_size {
    double height = 1.0, width = 1.0;
};

// The window in cells: a rectangle in metres has round(size / cell side)
// rows and columns, at least 1; a circle or annulus in metres keeps its
// radii and takes the cell size, so the core decides which cells it holds.
// cell is read only for a window in metres. Throws tool_error for a
// rectangle of more than 2^31 - 1 cells a side.
void set_window(rw::map_request& q, const window_spec& window, const cell_size& cell);

} // namespace cli
