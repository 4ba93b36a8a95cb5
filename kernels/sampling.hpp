// Class-probability sampling shared by the sampling maps: the threshold
// table and the test that decides one cell.
//
// Cells are decided row by row (rows outer, columns inner), one draw per cell
// whose threshold is positive. A map that walks cells in another order, or
// cuts the raster among threads or strips, gives each row its own copy of
// the generator moved ahead (crt_rand::discard) to where the row-by-row walk
// would start that row, so every cell still gets the draw it would get.
#pragma once

#include "crt_rand.hpp"
#include "raster_window.hpp"
#include "worker_pool.hpp"

#include <cstdint>
#include <vector>

namespace rw {

// trunc(32767 * p): a class of value p is selected with probability t / 32768
// for 1 <= t <= 32767, never for t <= 0 and always for t >= 32768. Values
// beyond the int32 range saturate and NaN gives 0, so the conversion is
// defined for every double.
std::int32_t sampling_threshold(double p);

// The sampling threshold of each of the K class values, in class order.
std::vector<std::int32_t> threshold_table(const double* table, index_t K);

// One cell of threshold t: a cell that can never be selected takes no draw,
// so the n-th draw always decides the n-th cell with a positive threshold. A
// draw equal to t fails.
template <class Generator>
inline bool sampling_test(std::int32_t t, Generator& gen)
{
    return t > 0 && gen() < t;
}

inline bool sampling_test(std::int32_t t, crt_rand& gen) { return gen.draw_below(t); }

// The draws of each row of block b: per_row[r - b.r0] counts the cells of
// row r, columns b.c0 .. b.c1-1, whose threshold is positive.
void count_draws(raster_view<const std::int32_t> labels, const std::int32_t* thresholds, cell_block b,
                 index_t* per_row, worker_pool& pool);

// Where each of n rows starts drawing, when the draws run on from position
// start in their order: at[k] = start + per_row[0] + ... + per_row[k - 1].
// Returns the draws of all n rows. Tiles and strips alike take their rows'
// generator positions from here.
std::uint64_t draw_positions(const index_t* per_row, index_t n, std::uint64_t start, std::uint64_t* at);

} // namespace rw
