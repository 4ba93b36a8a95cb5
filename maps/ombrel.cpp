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

// Scores the windows with top row i and left columns j0 <= j < j_end into
// scores[(j - j0) * stride], before the division by sqrt(h * w). The first
// window is counted and scored directly over all K classes; each later one
// carries the score on, so nothing passes from one row to the next.
void row_sweep(const raster_args& a, index_t i, index_t j0, index_t j_end,
               const std::vector<double>& root, const std::vector<double>& step,
               std::vector<index_t>& count, double* scores, index_t stride)
{
    std::fill(count.begin(), count.end(), 0);
    for (index_t c = j0; c < j0 + a.w; ++c) {
        const std::int32_t* col = a.labels + a.M * c + i;
        for (index_t r = 0; r < a.h; ++r) ++count[col[r] - 1];
    }
    double score = 0.0;
    for (index_t k = 0; k < a.K; ++k) score = score + a.table[k] * root[count[k]];
    scores[0] = score;

    // A slide takes the whole leaving column out before the entering one
    // comes in; each change reads the step at the larger of the two counts.
    for (index_t j = j0 + 1; j < j_end; ++j) {
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
        scores[(j - j0) * stride] = score;
    }
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
    // moves between c - 1 and c, taken as the difference of the two stored
    // roots: that difference is exact (they lie within a factor of two), so
    // the steps of a count rising from 0 to c add up to root[c] itself.
    const index_t n = a.h * a.w;
    std::vector<double> root(static_cast<std::size_t>(n + 1));
    std::vector<double> step(static_cast<std::size_t>(n + 1), 0.0);
    for (index_t c = 0; c <= n; ++c) root[c] = std::sqrt(static_cast<double>(c));
    for (index_t c = 1; c <= n; ++c) step[c] = root[c] - root[c - 1];

    const index_t di = centre_offset(a.h), dj = centre_offset(a.w);
    std::vector<index_t> count(static_cast<std::size_t>(a.K));
    for (index_t i = p.i0; i < p.i_end; ++i)
        row_sweep(a, i, p.j0, p.j_end, root, step, count, a.out + (i + di) + a.M * (p.j0 + dj),
                  a.M);

    // The division by sqrt(h * w) is left to one pass over the whole output.
    const double divisor = root[n];
    const index_t cells = a.M * a.N;
    for (index_t k = 0; k < cells; ++k) a.out[k] = a.out[k] / divisor;
}

} // namespace rw
