// Square-root overlap map: every scored cell receives
//   sum over k of table[k - 1] * sqrt(n_k / (h * w))
// for its window, n_k being the window's count of label k. With the square
// roots of target class proportions in the table this is the Bhattacharyya
// coefficient between the target and the window's composition.
//
// Its windows differ from the other maps' in one way: the first window of
// every scored row (left column 10) is scored whenever it fits in the raster
// (N >= w + 10), even where the common geometry has no scored column
// (N < w + 21). Its score then lands at column 10 + w / 2.
#pragma once

#include "kernels/label_check.hpp"
#include "kernels/raster_window.hpp"

namespace rw {

// Fills a.out (M x N, zero on entry) with the square-root overlap map. Needs
// every label in 1..K inside ombrel_read_block. Scratch: two tables of
// h * w + 1 doubles and 8 x K class counts.
void ombrel_map(const raster_args& a);

// The cells ombrel_map reads: rows 10 .. M-12 and columns 10 .. N-12
// (10 .. w+9 while N <= w + 21), or none when no window is scored.
cell_block ombrel_read_block(index_t M, index_t N, index_t h, index_t w);

} // namespace rw
