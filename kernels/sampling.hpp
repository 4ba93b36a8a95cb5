// Class-probability sampling shared by the sampling maps: the threshold
// table, the test that decides one cell, and the pass that decides a block of
// cells in a fixed order.
//
// A generator is any object whose operator() returns the next draw, uniform
// over 0..32767 (crt_rand in the plug-ins; tests pass their own).
#pragma once

#include "label_check.hpp"
#include "raster_window.hpp"

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

// Decides every cell of block b of the M-row label raster, rows outer and
// columns inner, and calls on_selected(k, label) for each selected cell at
// linear position k before deciding the next one. Rows outer although the
// raster is column-major: the order fixes which draw decides which cell.
// Needs every label of the block in 1..K.
template <class Generator, class Action>
void sampling_pass(const std::int32_t* labels, index_t M, cell_block b,
                   const std::int32_t* thresholds, Generator& gen, Action&& on_selected)
{
    for (index_t r = b.r0; r < b.r1; ++r)
        for (index_t c = b.c0; c < b.c1; ++c) {
            const index_t k = r + M * c;
            const std::int32_t label = labels[k];
            if (sampling_test(thresholds[label - 1], gen)) on_selected(k, label);
        }
}

} // namespace rw
