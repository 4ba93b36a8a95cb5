// Class-value mean map: every scored cell receives the mean, over its window,
// of the class value of each cell.
#pragma once

#include "kernels/raster_window.hpp"

namespace rw {

// Fills a.out (M x N, zero on entry) with the class-value mean map. Needs
// every label in 1..K. Scratch: one M x N double raster.
void varnok_map(const raster_args& a);

} // namespace rw
