// Which windows are scored (edge rules) and over which cells: every scored
// window of the deterministic maps against its score computed directly over
// its cells, and the plug-ins' windows keeping their bits under every rule.
#include "map_checks.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace rw {
namespace {

// A window's cells, as offsets from its top-left corner.
struct cell_offset {
    index_t dr, dc;
};

std::vector<cell_offset> rectangle_cells(index_t h, index_t w)
{
    std::vector<cell_offset> cells;
    for (index_t dc = 0; dc < w; ++dc)
        for (index_t dr = 0; dr < h; ++dr) cells.push_back({dr, dc});
    return cells;
}

// The score of the window with top-left (i, j) over its valid cells (labels
// 1..K; K + 1 is nodata), or NaN when fewer than `least` are valid. Sums in
// long double: far more precise than any bound tested here.
double direct_score(map_kind map, const std::vector<double>& table, const std::vector<std::int32_t>& labels,
                    index_t M, index_t i, index_t j, const std::vector<cell_offset>& cells, index_t least)
{
    const index_t K = static_cast<index_t>(table.size());
    std::vector<index_t> n(static_cast<std::size_t>(K), 0);
    index_t valid = 0;
    for (const cell_offset& c : cells)
        if (const std::int32_t l = labels[(i + c.dr) + M * (j + c.dc)]; l <= K) {
            ++n[l - 1];
            ++valid;
        }
    if (valid < std::max<index_t>(least, 1)) return NAN;
    long double score = 0;
    for (index_t k = 0; k < K; ++k) {
        const long double q = static_cast<long double>(n[k]) / valid;
        switch (map) {
        case map_kind::varnok: score += q * table[k]; break;
        case map_kind::sulmet: score += (q - table[k]) * (q - table[k]); break;
        case map_kind::ombrel: score += table[k] * std::sqrt(q); break;
        default: ADD_FAILURE() << "no direct score for this map";
        }
    }
    return static_cast<double>(map == map_kind::sulmet ? 1 - score / 2 : score);
}

struct edge_case {
    map_kind map;
    arithmetic arith;
    bool nodata;
};

class InsideEdges : public ::testing::TestWithParam<edge_case> {};

// Every window wholly inside the raster is scored, at its centre cell, and
// no other cell: against the direct score for the deterministic maps; and
// under the plug-ins' arithmetic each window the plug-ins' layout scores
// keeps its bits (every map: the random ones draw the same).
TEST_P(InsideEdges, ScoreEveryWindowInsideTheRaster)
{
    const edge_case c = GetParam();
    const index_t M = 47, N = 53, K = 4, h = 5, w = 8;
    std::vector<std::int32_t> labels = test::random_labels(M, N, static_cast<int>(K), 12);
    if (c.nodata)
        for (index_t k = 0; k < M * N; ++k)
            if (k % 11 == 4 || k < 3 * M) labels[k] = static_cast<std::int32_t>(K + 1);
    const std::vector<double> table{0.1, 0.45, 0.3, 0.15};
    map_request q{c.map};
    q.arithmetic = c.arith;
    q.seed = 99;
    q.nodata = c.nodata;
    q.policy = nodata_policy::renormalise;
    q.min_valid = 0.6;
    const std::vector<double> margin = test::run_map(q, table, labels.data(), M, N, h, w);
    q.edges = edge_rule::inside;
    const std::vector<double> inside = test::run_map(q, table, labels.data(), M, N, h, w, {2, 7});

    map_request sized = q;
    sized.table = table.data();
    sized.K = K;
    sized.h = h;
    sized.w = w;
    const index_t least = least_valid_cells(sized);
    const scored_positions plugins = scored_positions_of(M, N, h, w);
    const std::vector<cell_offset> cells = rectangle_cells(h, w);
    const bool deterministic = c.map != map_kind::marnisa && c.map != map_kind::dravix;
    index_t scored = 0;
    for (index_t r = 0; r < M; ++r)
        for (index_t col = 0; col < N; ++col) {
            const index_t i = r - h / 2, j = col - w / 2;
            const double got = inside[r + M * col];
            if (i < 0 || j < 0 || i + h > M || j + w > N) {
                ASSERT_EQ(got, 0.0) << "unscored cell at row " << r << ", column " << col;
                continue;
            }
            ++scored;
            const bool in_plugins = i >= plugins.i0 && i < plugins.i_end && j >= plugins.j0 && j < plugins.j_end;
            const double before = margin[r + M * col];
            if (in_plugins && c.arith == arithmetic::plugin) {
                ASSERT_EQ(std::memcmp(&got, &before, sizeof got), 0) << "row " << r << ", column " << col;
            }
            if (!deterministic) continue;
            const double want = direct_score(c.map, table, labels, M, i, j, cells, least);
            if (std::isnan(want)) {
                ASSERT_TRUE(std::isnan(got)) << "row " << r << ", column " << col;
                continue;
            }
            ASSERT_NEAR(got, want, 1e-12) << "row " << r << ", column " << col;
        }
    EXPECT_EQ(scored, (M - h + 1) * (N - w + 1));
}

INSTANTIATE_TEST_SUITE_P(
    AllMaps, InsideEdges,
    ::testing::Values(edge_case{map_kind::varnok, arithmetic::plugin, false},
                      edge_case{map_kind::varnok, arithmetic::exact, true},
                      edge_case{map_kind::marnisa, arithmetic::plugin, true},
                      edge_case{map_kind::marnisa, arithmetic::exact, false},
                      edge_case{map_kind::sulmet, arithmetic::plugin, true},
                      edge_case{map_kind::sulmet, arithmetic::exact, false},
                      edge_case{map_kind::ombrel, arithmetic::plugin, false},
                      edge_case{map_kind::ombrel, arithmetic::plugin, true},
                      edge_case{map_kind::ombrel, arithmetic::exact, true},
                      edge_case{map_kind::dravix, arithmetic::plugin, false},
                      edge_case{map_kind::dravix, arithmetic::exact, true}));

// A window larger than the raster scores nothing under inside; one exactly
// as large scores its one centre cell.
TEST(InsideEdges, WindowsTheSizeOfTheRaster)
{
    const index_t M = 6, N = 9;
    const std::vector<std::int32_t> labels = test::random_labels(M, N, 3, 4);
    const std::vector<double> table{0.2, 0.3, 0.5};
    for (const map_kind map : {map_kind::varnok, map_kind::sulmet, map_kind::ombrel, map_kind::dravix}) {
        map_request q{map};
        q.edges = edge_rule::inside;
        q.arithmetic = arithmetic::exact;
        index_t nonzero = 0;
        for (const double v : test::run_map(q, table, labels.data(), M, N, M + 1, N)) nonzero += v != 0;
        EXPECT_EQ(nonzero, 0);
        q.h = M + 1;
        q.w = N;
        EXPECT_TRUE(scored_cells(q, M, N).empty());
        map_request whole = q;
        whole.h = M;
        whole.w = N;
        const cell_block one = scored_cells(whole, M, N);
        EXPECT_EQ(one.r1 - one.r0, 1);
        EXPECT_EQ(one.c1 - one.c0, 1);
        EXPECT_EQ(one.r0, M / 2);
    }
}

} // namespace
} // namespace rw
