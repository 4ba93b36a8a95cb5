// Helpers shared by the map tests: random label rasters and a check of a
// whole output raster against an independent per-window computation.
#pragma once

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

} // namespace rw::test
