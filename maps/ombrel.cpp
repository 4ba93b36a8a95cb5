#include "ombrel.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace rw {
namespace {

// Top-left corners of the windows this map scores: the common scored rows,
// and in each the first column whenever its window fits in the raster.
scored_positions ombrel_positions(index_t M, index_t N, index_t h, index_t w)
{
    scored_positions p = scored_positions_of(M, N, h, w);
    const bool first_fits = N >= p.j0 + w;
    p.j_end = first_fits ? std::max(p.j_end, p.j0 + 1) : p.j0;
    return p;
}

} // namespace

cell_block ombrel_read_block(index_t M, index_t N, index_t h, index_t w)
{
    const scored_positions p = ombrel_positions(M, N, h, w);
    if (p.empty()) return {0, 0, 0, 0};
    return {p.i0, p.i_end + h - 1, p.j0, p.j_end + w - 1};
}

void ombrel_map(const raster_args& a)
{
    const scored_positions p = ombrel_positions(a.M, a.N, a.h, a.w);
    if (p.empty()) return;

    // root[c] = sqrt(c). step[c] is the change of sqrt(count) when a count
    // moves between c - 1 and c, taken from the stored roots so that a class
    // that leaves and comes back moves by the same two amounts.
    const index_t n = a.h * a.w;
    std::vector<double> root(static_cast<std::size_t>(n + 1));
    std::vector<double> step(static_cast<std::size_t>(n + 1), 0.0);
    for (index_t c = 0; c <= n; ++c) root[c] = std::sqrt(static_cast<double>(c));
    for (index_t c = 1; c <= n; ++c) step[c] = root[c] - root[c - 1];

    const index_t di = centre_offset(a.h), dj = centre_offset(a.w);
    std::vector<index_t> count(static_cast<std::size_t>(a.K));
    for (index_t i = p.i0; i < p.i_end; ++i) {
        // Each row starts from a fresh count and a direct score over all K
        // classes; only within the row is the score carried from window to
        // window.
        std::fill(count.begin(), count.end(), 0);
        for (index_t c = p.j0; c < p.j0 + a.w; ++c) {
            const std::int32_t* col = a.labels + a.M * c + i;
            for (index_t r = 0; r < a.h; ++r) ++count[col[r] - 1];
        }
        double score = 0.0;
        for (index_t k = 0; k < a.K; ++k) score = score + a.table[k] * root[count[k]];
        double* out_row = a.out + (i + di) + a.M * dj;
        out_row[a.M * p.j0] = score;

        // A slide takes the whole leaving column out before the entering one
        // comes in; each change reads the step at the larger of the two
        // counts.
        for (index_t j = p.j0 + 1; j < p.j_end; ++j) {
            const std::int32_t* leaving = a.labels + a.M * (j - 1) + i;
            const std::int32_t* entering = a.labels + a.M * (j + a.w - 1) + i;
            for (index_t r = 0; r < a.h; ++r) {
                const index_t k = leaving[r] - 1;
                score = score - a.table[k] * step[count[k]];
                --count[k];
            }
            for (index_t r = 0; r < a.h; ++r) {
                const index_t k = entering[r] - 1;
                ++count[k];
                score = score + a.table[k] * step[count[k]];
            }
            out_row[a.M * j] = score;
        }
    }

    // The division by sqrt(h * w) is left to one pass over the whole output.
    const double divisor = root[n];
    const index_t cells = a.M * a.N;
    for (index_t k = 0; k < cells; ++k) a.out[k] = a.out[k] / divisor;
}

} // namespace rw
