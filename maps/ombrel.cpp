#include "ombrel.hpp"

#include "kernels/class_counts.hpp"

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

// Scores the windows with top rows i .. i + R - 1 and left columns
// j0 <= j < j_end, before the division by sqrt(h * w); that of top row i + g
// goes to scores[(j - j0) * stride + g]. The first window of a row is counted
// and scored directly over all K classes; each later one carries the score
// on, so nothing passes from one row to the next. Each row makes its updates
// in the same order, with the same operands, as a sweep of that row alone.
template <index_t R>
void row_sweeps(const raster_args& a, index_t i, index_t j0, index_t j_end,
                const std::vector<double>& root, const std::vector<double>& step,
                std::vector<index_t>& counts, double* scores, index_t stride)
{
    index_t* count[R];
    double score[R];
    for (index_t g = 0; g < R; ++g) {
        count[g] = counts.data() + g * a.K;
        count_window(a, i + g, j0, count[g]);
        score[g] = 0.0;
        for (index_t k = 0; k < a.K; ++k) score[g] = score[g] + a.table[k] * root[count[g][k]];
        scores[g] = score[g];
    }
    // Each change of a count reads the step at the larger of the two counts.
    for (index_t j = j0 + 1; j < j_end; ++j) {
        slide_right<R>(
            a, i, j,
            [&](index_t g, index_t k) {
                score[g] = score[g] - a.table[k] * step[count[g][k]];
                --count[g][k];
            },
            [&](index_t g, index_t k) {
                ++count[g][k];
                score[g] = score[g] + a.table[k] * step[count[g][k]];
            });
        for (index_t g = 0; g < R; ++g) scores[(j - j0) * stride + g] = score[g];
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

    // Top rows are swept eight at a time, any left over one by one.
    constexpr index_t rows_at_once = 8;
    const index_t di = centre_offset(a.h), dj = centre_offset(a.w);
    std::vector<index_t> counts(static_cast<std::size_t>(rows_at_once * a.K));
    const auto first_score = [&](index_t i) { return a.out + (i + di) + a.M * (p.j0 + dj); };
    index_t i = p.i0;
    for (; i + rows_at_once <= p.i_end; i += rows_at_once)
        row_sweeps<rows_at_once>(a, i, p.j0, p.j_end, root, step, counts, first_score(i), a.M);
    for (; i < p.i_end; ++i)
        row_sweeps<1>(a, i, p.j0, p.j_end, root, step, counts, first_score(i), a.M);

    // The division by sqrt(h * w) is left to one pass over the whole output.
    const double divisor = root[n];
    const index_t cells = a.M * a.N;
    for (index_t k = 0; k < cells; ++k) a.out[k] = a.out[k] / divisor;
}

} // namespace rw
