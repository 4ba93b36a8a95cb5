// Squared-difference similarity map: every scored cell receives one minus
// half the squared difference between the class table, read as target class
// proportions, and the class proportions of its window:
//   1 - 0.5 * sum over k of (n_k / (h * w) - table[k - 1])^2.
#pragma once

#include "kernels/raster_window.hpp"

namespace rw {

// Fills a.out (M x N, zero on entry) with the squared-difference similarity
// map. Needs every label in 1..K. Scratch: one M x N
// double raster, the window square sums of 32 top rows and 8 x K class counts.
void sulmet_map(const raster_args& a);


} // namespace rw
