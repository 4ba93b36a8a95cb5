// Class-probability sampling shared by the sampling maps: the threshold
// table, the test that decides one cell, and the pass that decides a block of
// cells in a fixed order.
//
// A generator is any copyable object whose operator() returns the next draw,
// uniform over 0..32767, and whose discard(n) skips n draws (crt_rand in the
// plug-ins; tests pass their own).
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

// Draws are handed out row by row (rows outer, columns inner), but rasters
// are stored column by column, and walking a row strides through memory.
// So a pass walks columns and takes each row's draws from that row's own
// stream: given how many draws each row of the walk takes, stream r starts
// where the row-by-row walk would start row r. Afterwards gen stands where
// the row-by-row walk would leave it.
template <class Generator>
std::vector<Generator> row_streams(Generator& gen, const std::vector<index_t>& draws_per_row)
{
    std::vector<Generator> streams;
    streams.reserve(draws_per_row.size());
    for (const index_t draws : draws_per_row) {
        streams.push_back(gen);
        gen.discard(static_cast<std::uint64_t>(draws));
    }
    return streams;
}

// Decides every cell of block b of the M-row label raster, the n-th draw
// deciding the n-th cell with a positive threshold in row order (rows outer,
// columns inner), and calls on_selected(k, r, label) for each selected cell,
// k being its linear position and r its row. The calls come column by
// column, so an action must not depend on their order. Needs every label of
// the block in 1..K.
template <class Generator, class Action>
void sampling_pass(const std::int32_t* labels, index_t M, cell_block b,
                   const std::int32_t* thresholds, Generator& gen, Action&& on_selected)
{
    if (b.r1 <= b.r0 || b.c1 <= b.c0) return;
    std::vector<index_t> draws(static_cast<std::size_t>(b.r1 - b.r0), 0);
    for (index_t c = b.c0; c < b.c1; ++c) {
        const std::int32_t* col = labels + M * c;
        for (index_t r = b.r0; r < b.r1; ++r) draws[r - b.r0] += thresholds[col[r] - 1] > 0;
    }
    std::vector<Generator> streams = row_streams(gen, draws);
    for (index_t c = b.c0; c < b.c1; ++c) {
        const std::int32_t* col = labels + M * c;
        for (index_t r = b.r0; r < b.r1; ++r) {
            const std::int32_t label = col[r];
            if (sampling_test(thresholds[label - 1], streams[r - b.r0]))
                on_selected(r + M * c, r, label);
        }
    }
}

} // namespace rw
