// Helpers shared by the map tests: random label rasters and a check of a
// whole output raster against an independent per-window computation.
#pragma once

#include "kernels/crt_rand.hpp"
#include "maps/raster_maps.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace rw::test {

// Runs map q (its table, K and window set by the call) over the M x N
// column-major labels into a fresh all-zero output raster and returns it.
inline std::vector<double> run_map(map_request q, const std::vector<double>& table,
                                   const std::int32_t* labels, index_t M, index_t N, index_t h,
                                   index_t w, const run_options& options = {})
{
    q.table = table.data();
    q.K = static_cast<index_t>(table.size());
    q.h = h;
    q.w = w;
    std::vector<double> out(static_cast<std::size_t>(M * N), 0.0);
    rw::run_map(q, column_major(labels, M, N), column_major(out.data(), M, N), options);
    return out;
}

inline std::vector<double> run_map(map_kind map, const std::vector<double>& table,
                                   const std::vector<std::int32_t>& labels, index_t M, index_t N,
                                   index_t h, index_t w)
{
    return run_map(map_request{map}, table, labels.data(), M, N, h, w);
}

// Class counts n_k of the h x w window with top-left cell (i, j), by direct
// count.
inline std::vector<index_t> window_counts(const std::vector<std::int32_t>& labels, index_t K,
                                          index_t M, index_t i, index_t j, index_t h, index_t w)
{
    std::vector<index_t> n(static_cast<std::size_t>(K), 0);
    for (index_t c = j; c < j + w; ++c)
        for (index_t r = i; r < i + h; ++r) ++n[labels[r + M * c] - 1];
    return n;
}

inline std::vector<std::int32_t> random_labels(index_t M, index_t N, int K, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> pick(1, K);
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N));
    for (auto& l : labels) l = pick(gen);
    return labels;
}

inline std::vector<double> random_table(int K, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> value(-2.0, 5.0);
    std::vector<double> table(static_cast<std::size_t>(K));
    for (auto& v : table) v = value(gen);
    return table;
}

// Expects out to hold score(i, j) at the centre cell of every scored window
// (i, j) (within tol) and exactly 0 in every other cell.
inline void expect_scored_map(const std::vector<double>& out, index_t M, index_t N, index_t h,
                              index_t w, const std::function<double(index_t, index_t)>& score,
                              double tol)
{
    std::vector<double> expected(static_cast<std::size_t>(M * N), 0.0);
    std::vector<bool> scored(static_cast<std::size_t>(M * N), false);
    const scored_positions p = scored_positions_of(M, N, h, w);
    if (!p.empty())
        for (index_t i = p.i0; i < p.i_end; ++i)
            for (index_t j = p.j0; j < p.j_end; ++j) {
                const index_t centre = (i + h / 2) + M * (j + w / 2);
                expected[centre] = score(i, j);
                scored[centre] = true;
            }
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) {
            const double want = expected[r + M * c], got = out[r + M * c];
            if (!scored[r + M * c]) {
                ASSERT_EQ(got, 0.0) << "unscored cell at row " << r << ", column " << c;
            } else {
                ASSERT_NEAR(got, want, tol * std::max(1.0, std::abs(want)))
                    << "at row " << r << ", column " << c;
            }
        }
}

// The point pass as the map defines it, which cell takes which draw: the
// sampling pass over the region row by row, then the pool of n + P offset
// pairs (row draw, column draw), then one draw per point with a same-class
// probe, in point order. The map takes the same draws from copies of the
// generator skipped ahead row by row, so this checks that bookkeeping, not
// a copy of it. No floating-point sum is involved: only the two truncated
// thresholds; the density below is an exact count divided once.
inline std::vector<std::int32_t> reference_points(const std::vector<double>& table,
                                           const std::vector<std::int32_t>& labels, index_t M,
                                           index_t N, index_t h, index_t w, index_t probes,
                                           crt_rand& gen)
{
    const index_t ri = static_cast<index_t>(0.85 * static_cast<double>(h / 2));
    const index_t rj = static_cast<index_t>(0.85 * static_cast<double>(w / 2));
    std::vector<std::int32_t> pts(labels.size(), 0);
    index_t n = 0;
    for (index_t r = ri + 1; r < M - ri - 1; ++r)
        for (index_t c = rj + 1; c < N - rj - 1; ++c) {
            const double t = std::trunc(32767.0 * table[labels[r + M * c] - 1]);
            if (t >= 1 && gen() < t) {
                pts[r + M * c] = 1;
                ++n;
            }
        }
    if (n == 0) return pts;
    const index_t P = probes * M * N / n;
    std::vector<index_t> dr(static_cast<std::size_t>(n + P)), dc(dr.size());
    for (std::size_t q = 0; q < dr.size(); ++q) {
        dr[q] = gen() % (2 * ri + 1) - ri;
        dc[q] = gen() % (2 * rj + 1) - rj;
    }
    index_t j = 0;
    for (index_t r = ri + 1; r < M - ri - 1; ++r)
        for (index_t c = rj + 1; c < N - rj - 1; ++c) {
            if (pts[r + M * c] == 0) continue;
            const std::int32_t own = labels[r + M * c];
            index_t l = 0;
            for (index_t m = 0; m < P; ++m)
                l += labels[(r + dr[j + m]) + M * (c + dc[j + m])] == own;
            ++j;
            if (l == 0) continue;
            const index_t e = h * w * l / P;
            const std::int32_t draw = gen();
            if (e > 0 && static_cast<std::int32_t>(32767.0 / std::sqrt(static_cast<double>(e))) < draw)
                pts[r + M * c] = 0;
        }
    return pts;
}

} // namespace rw::test
