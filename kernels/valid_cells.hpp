// Counts of the valid cells of each window, for maps over rasters with
// nodata cells: an integer summed-area table of "cell is valid" built strip
// by strip beside the map's own, so a count is exact whatever the window.
//
// A window's divisor is its count V of valid cells as a double: h * w for a
// window without nodata, the very double the maps divide by without nodata,
// so such windows keep their bits. A window with fewer than the least valid
// count gets NaN, which turns its score into NaN.
#pragma once

#include "summed_area.hpp"

#include <cstdint>
#include <limits>
#include <utility>

namespace rw {

class window_valid_counts {
public:
    // Over the columns of block b from its row b.r0 (a whole raster of N
    // columns: {0, M, 0, N}; a tile's halo: its own cells), for windows of
    // the given layout. nodata_label 0: no cell is nodata, nothing is
    // built, every window is full. Needs h * w below 2^31 otherwise.
    window_valid_counts(cell_block b, window_layout layout, index_t strip_rows, std::int32_t nodata_label,
                        index_t least_valid)
        : layout_(std::move(layout)), nodata_(nodata_label), least_(least_valid),
          table_(nodata_label == 0 ? cell_block{0, 0, 0, 0} : b, nodata_label == 0 ? 0 : layout_.h,
                 nodata_label == 0 ? 0 : strip_rows)
    {
    }

    bool active() const { return nodata_ != 0; }

    // Counts label rows a .. b-1, the rows after the last call's (the
    // block's first row for the first); the windows whose bottom row lies
    // there can then be read.
    void build(raster_view<const std::int32_t> band, index_t a, index_t b, worker_pool& pool)
    {
        if (!active()) return;
        const std::int32_t nodata = nodata_;
        table_.start(a, b, pool);
        table_.build(a, b, [&](index_t c, index_t r0, index_t r1, std::int32_t* dst) {
            for_each_down(band, c, r0, r1, [&](index_t k, std::int32_t l) { dst[k] = l != nodata; });
        }, pool);
    }

    // Valid cells of the window with top-left (i, j).
    index_t count(index_t i, index_t j) const
    {
        if (!active()) return layout_.cells;
        if (layout_.rectangle) return table_.window_sum(i, j, layout_.h, layout_.w);
        return footprint_sum(table_.view(), i, j, layout_);
    }

    const window_layout& layout() const { return layout_; }

    // Whether a window of v valid cells is scored.
    bool scores(index_t v) const { return v >= least_; }

    // v as the divisor of a mean over the valid cells, or NaN when too few.
    double divisor(index_t v) const
    {
        return scores(v) ? static_cast<double>(v) : std::numeric_limits<double>::quiet_NaN();
    }

private:
    window_layout layout_;
    std::int32_t nodata_;
    index_t least_;
    summed_area_strip<std::int32_t> table_;
};

// Writes the mean of every window of p, from the table cells of view t
// (see for_each_window_sum), at its centre cell of out: its sum over its
// cells, or its valid cells.
template <class T>
void write_means(raster_view<const T> t, const window_valid_counts& valid, const scored_positions& p,
                 raster_view<double> out, worker_pool& pool)
{
    const window_layout& layout = valid.layout();
    const index_t di = centre_offset(layout.h), dj = centre_offset(layout.w);
    if (valid.active())
        for_each_window_sum(t, p, layout, [&](index_t i, index_t j, T box) {
            out(i + di, j + dj) = static_cast<double>(box) / valid.divisor(valid.count(i, j));
        }, pool);
    else {
        const double area = static_cast<double>(layout.cells);
        for_each_window_sum(t, p, layout, [&](index_t i, index_t j, T box) {
            out(i + di, j + dj) = static_cast<double>(box) / area;
        }, pool);
    }
}

} // namespace rw
