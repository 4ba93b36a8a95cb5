// Class-count histograms of h x w windows, for the maps that score a
// window's class composition. A histogram holds K counts, entry k for label
// k + 1, and is counted once per row of windows, then kept up to date as the
// window slides one column to the right at a time.
#pragma once

#include "raster_window.hpp"

#include <algorithm>
#include <cstdint>

namespace rw {

// Counts the labels of the h x w window with top-left cell (i, j) into
// count[0 .. K-1], clearing it first. Needs those labels in 1..K.
inline void count_window(raster_view<const std::int32_t> labels, index_t K, index_t h, index_t w,
                         index_t i, index_t j, index_t* count)
{
    std::fill(count, count + K, index_t{0});
    for (index_t c = j; c < j + w; ++c)
        for_each_down(labels, c, i, i + h, [&](index_t, std::int32_t l) { ++count[l - 1]; });
}

// Slides the R windows with top rows i .. i + R - 1 from left column j - 1
// to j. Row by row down the window, each window g loses its cell of column
// j - 1 through leave(g, k), k being the cell's label less 1; then, row by
// row again, it gains its cell of column j + w - 1 through enter(g, k). The
// whole leaving column goes before the entering one comes in. The R windows
// keep separate counts, so their updates form R independent chains that the
// processor can overlap.
template <index_t R, class Leave, class Enter>
inline void slide_right(raster_view<const std::int32_t> labels, index_t h, index_t w, index_t i,
                        index_t j, Leave&& leave, Enter&& enter)
{
    const std::int32_t* leaving = &labels(i, j - 1);
    const std::int32_t* entering = &labels(i, j + w - 1);
    const index_t s = labels.row_step;
    for (index_t r = 0; r < h; ++r)
        for (index_t g = 0; g < R; ++g) leave(g, index_t{leaving[(g + r) * s]} - 1);
    for (index_t r = 0; r < h; ++r)
        for (index_t g = 0; g < R; ++g) enter(g, index_t{entering[(g + r) * s]} - 1);
}

} // namespace rw
