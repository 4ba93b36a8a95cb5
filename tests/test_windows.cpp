// Which windows are scored (edge rules) and over which cells: every scored
// window of the deterministic maps against its score computed directly over
// its cells, and the plug-ins' windows keeping their bits under every rule.
#include "map_checks.hpp"

#include "kernels/crt_rand.hpp"

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

// --- Circles and annuli ----------------------------------------------------

// The cells of a footprint straight from its definition: the offsets from
// the centre within its extent whose squared distance lies in the range.
std::vector<cell_offset> footprint_cells(const footprint& f, index_t h, index_t w)
{
    std::vector<cell_offset> cells;
    for (index_t dr = 0; dr < h; ++dr)
        for (index_t dc = 0; dc < w; ++dc) {
            const double y = static_cast<double>(dr - h / 2) * f.cell_height;
            const double x = static_cast<double>(dc - w / 2) * f.cell_width;
            const double d = y * y + x * x;
            if (d <= f.outer * f.outer && (f.shape != window_shape::annulus || d > f.inner * f.inner))
                cells.push_back({dr, dc});
        }
    return cells;
}

struct footprint_case {
    map_kind map;
    footprint shape;
    edge_rule edges;
    bool nodata;
};

class Footprints : public ::testing::TestWithParam<footprint_case> {};

// Every scored window's score over its footprint's cells, computed
// directly; Dravix's density from the reference point pass.
TEST_P(Footprints, ScoreOverTheFootprintsCells)
{
    const footprint_case c = GetParam();
    const index_t M = 43, N = 58, K = 4;
    std::vector<std::int32_t> labels = test::random_labels(M, N, static_cast<int>(K), 21);
    if (c.nodata)
        for (index_t k = 0; k < M * N; ++k)
            if (k % 13 == 5) labels[k] = static_cast<std::int32_t>(K + 1);
    const std::vector<double> table{0.1, 0.45, 0.3, 0.15};
    map_request q{c.map};
    q.arithmetic = arithmetic::exact;
    q.edges = c.edges;
    q.seed = 5;
    q.probes_per_cell = 6;
    q.nodata = c.nodata;
    q.policy = nodata_policy::renormalise;
    q.min_valid = 0.8;
    q.table = table.data();
    q.K = K;
    set_footprint(q, c.shape);
    const index_t h = q.h, w = q.w;
    ASSERT_FALSE(check_request(q, M, N).has_value());
    const std::vector<double> out = test::run_map(q, table, labels.data(), M, N, h, w, {2, 5});
    const std::vector<cell_offset> cells = footprint_cells(c.shape, h, w);
    ASSERT_EQ(window_cells(q), static_cast<index_t>(cells.size()));
    std::vector<std::int32_t> points;
    if (c.map == map_kind::dravix) {
        crt_rand gen(q.seed);
        points = test::reference_points(table, labels, M, N, h, w, q.probes_per_cell, gen);
    }
    const index_t least = least_valid_cells(q);
    const scored_positions p = window_positions(q, M, N);
    index_t scored = 0;
    for (index_t i = p.i0; i < p.i_end; ++i)
        for (index_t j = p.j0; j < p.j_end; ++j) {
            const double got = out[(i + h / 2) + M * (j + w / 2)];
            double want = 0;
            if (c.map == map_kind::dravix) {
                index_t n = 0;
                for (const cell_offset& o : cells) n += points[(i + o.dr) + M * (j + o.dc)];
                want = static_cast<double>(n) / static_cast<double>(cells.size());
                ASSERT_EQ(got, want) << "window at " << i << ", " << j;
            } else {
                want = direct_score(c.map, table, labels, M, i, j, cells, least);
                if (std::isnan(want)) {
                    ASSERT_TRUE(std::isnan(got)) << "window at " << i << ", " << j;
                    continue;
                }
                ASSERT_NEAR(got, want, 1e-12) << "window at " << i << ", " << j;
            }
            ++scored;
        }
    EXPECT_GT(scored, 100);
}

footprint circle(double r, double ry = 1, double rx = 1) { return {window_shape::circle, 0, r, ry, rx}; }
footprint annulus(double r0, double r1, double ry = 1, double rx = 1)
{
    return {window_shape::annulus, r0, r1, ry, rx};
}

INSTANTIATE_TEST_SUITE_P(
    AllMaps, Footprints,
    ::testing::Values(footprint_case{map_kind::varnok, circle(3), edge_rule::inside, false},
                      footprint_case{map_kind::varnok, circle(2.5), edge_rule::margin, true},
                      footprint_case{map_kind::varnok, annulus(1.5, 4), edge_rule::inside, true},
                      // metres on a pixel of 30 x 20 m: 3 rows and 4 columns each side
                      footprint_case{map_kind::varnok, circle(90, 30, 20), edge_rule::inside, false},
                      footprint_case{map_kind::sulmet, circle(4), edge_rule::inside, false},
                      footprint_case{map_kind::sulmet, annulus(0, 3), edge_rule::inside, true},
                      footprint_case{map_kind::ombrel, circle(3), edge_rule::margin, false},
                      footprint_case{map_kind::ombrel, annulus(2, 5), edge_rule::inside, true},
                      footprint_case{map_kind::ombrel, annulus(45, 100, 30, 20), edge_rule::inside, false},
                      footprint_case{map_kind::dravix, circle(3), edge_rule::inside, false},
                      footprint_case{map_kind::dravix, annulus(1, 3), edge_rule::margin, false}));

// Cells at exactly the radius are in; an annulus from 0 leaves out only the
// centre; extents follow floor(R / cell size).
TEST(Footprints, BoundariesAndExtents)
{
    const window_layout five = layout_of(circle(5), 11, 11);
    EXPECT_EQ(five.cells, 81); // (0, +-5), (+-5, 0), (+-3, +-4), (+-4, +-3) at exactly 5 included
    EXPECT_EQ(extent_of(circle(5)).h, 11);
    EXPECT_EQ(extent_of(circle(4.99)).h, 9);
    EXPECT_EQ(layout_of(annulus(0, 5), 11, 11).cells, 80);
    const window_extent metres = extent_of(circle(100, 30, 20));
    EXPECT_EQ(metres.h, 7);
    EXPECT_EQ(metres.w, 11);
    // The boxes cover each cell once.
    index_t covered = 0;
    for (const cell_block& b : layout_of(annulus(2, 6), 13, 13).boxes) covered += (b.r1 - b.r0) * (b.c1 - b.c0);
    EXPECT_EQ(covered, static_cast<index_t>(footprint_cells(annulus(2, 6), 13, 13).size()));
}

// Circles and annuli are refused under the plug-ins' arithmetic, and bad
// radii with a sentence naming them.
TEST(Footprints, BadFootprintsAreRefused)
{
    const std::vector<double> table{0.5, 0.5};
    map_request q{map_kind::varnok, table.data(), 2};
    set_footprint(q, circle(3));
    ASSERT_EQ(check_request(q)->kind, problem_kind::footprint_needs_exact);
    q.arithmetic = arithmetic::exact;
    EXPECT_FALSE(check_request(q).has_value());
    for (const footprint& bad : {circle(-1), circle(NAN), annulus(3, 3), annulus(0.2, 0.9), circle(1e9)}) {
        set_footprint(q, bad);
        const auto problem = check_request(q);
        ASSERT_TRUE(problem.has_value());
        EXPECT_EQ(problem->kind, problem_kind::bad_footprint);
    }
}

} // namespace
} // namespace rw
