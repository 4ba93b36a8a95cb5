// Sampled class-value mean map: every cell takes part only at random, with
// its class value as the chance (the class's sampling threshold), and a
// selected cell contributes that same value. Each scored cell receives the
// mean over its window, where unselected cells count as 0.
#pragma once

#include "kernels/raster_window.hpp"
#include "kernels/sampling.hpp"

#include <cstdint>
#include <vector>

namespace rw {

// Fills a.out (M x N, zero on entry) with the sampled class-value mean map.
// thresholds is the threshold table of a.table; gen is the call's generator,
// already seeded. One draw per cell whose threshold is positive, rows outer,
// columns inner; none at all when there is no scored position, since the
// output is then zero whatever is drawn. Needs every label in 1..K. Scratch:
// one M x N double raster.
template <class Generator>
void marnisa_map(const raster_args& a, const std::int32_t* thresholds, Generator& gen)
{
    if (scored_positions_of(a.M, a.N, a.h, a.w).empty()) return;
    std::vector<double> values(static_cast<std::size_t>(a.M * a.N), 0.0);
    sampling_pass(a.labels, a.M, whole_raster(a.M, a.N), thresholds, gen,
                  [&](index_t k, index_t, std::int32_t label) { values[k] = a.table[label - 1]; });
    summed_area_table(values.data(), a.M, a.N);
    write_window_means(values.data(), a.M, a.N, a.h, a.w, a.out);
}

} // namespace rw
