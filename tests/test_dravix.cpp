#include "maps/dravix.hpp"

#include "kernels/machine_memory.hpp"

#include "kernels/crt_rand.hpp"
#include "map_checks.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace rw {
namespace {

std::vector<double> run_dravix(const std::vector<double>& table,
                               const std::vector<std::int32_t>& labels, index_t M, index_t N,
                               index_t h, index_t w, std::int32_t probes, std::uint32_t seed,
                               const run_options& options = {})
{
    map_request q{map_kind::dravix};
    q.probes_per_cell = probes;
    q.seed = seed;
    return test::run_map(q, table, labels.data(), M, N, h, w, options);
}

// The density of a point raster: window means by direct sums.
std::vector<double> density_of(const std::vector<std::int32_t>& pts, index_t M, index_t N,
                               index_t h, index_t w)
{
    std::vector<double> out(pts.size(), 0.0);
    const scored_positions p = scored_positions_of(M, N, h, w);
    if (p.empty()) return out;
    for (index_t i = p.i0; i < p.i_end; ++i)
        for (index_t j = p.j0; j < p.j_end; ++j) {
            std::int32_t sum = 0;
            for (index_t c = j; c < j + w; ++c)
                for (index_t r = i; r < i + h; ++r) sum += pts[r + M * c];
            out[(i + h / 2) + M * (j + w / 2)] = static_cast<double>(sum) / static_cast<double>(h * w);
        }
    return out;
}

TEST(DravixSizes, ProbeReachByWindowSide)
{
    const index_t sides[] = {1, 2, 3, 4, 5, 6, 7, 11, 20, 21, 40, 41};
    const index_t reach[] = {0, 0, 0, 1, 1, 2, 2, 4, 8, 8, 17, 17};
    for (std::size_t k = 0; k < std::size(sides); ++k)
        EXPECT_EQ(probe_reach(sides[k]), reach[k]) << "side " << sides[k];
}

// 50 x 50 raster, 11 x 11 window, 12 probes per cell, 400 points.
TEST(DravixSizes, WorkedFiftyByFiftyExampleAndKeepThresholds)
{
    const cell_block region = sampling_region(50, 50, 11, 11);
    EXPECT_EQ(region.r0, 5);
    EXPECT_EQ(region.r1, 45);
    EXPECT_EQ(region.c0, 5);
    EXPECT_EQ(region.c1, 45);
    EXPECT_EQ(probe_count(12, 50, 50, 400), 75);
    EXPECT_EQ(same_class_estimate(121, 30, 75), 48);
    EXPECT_EQ(keep_threshold(48), 4729);
    EXPECT_EQ(keep_threshold(0), 32767);
    EXPECT_EQ(keep_threshold(1), 32767);
    EXPECT_EQ(keep_threshold(4), 16383);
    EXPECT_EQ(keep_threshold(25), 6553);
    EXPECT_EQ(keep_threshold(441), 1560);
    // Windows too large for the raster leave no region, without overflow.
    EXPECT_TRUE(sampling_region(4, 3, std::numeric_limits<index_t>::max(), 9).empty());
}

TEST(DravixSizes, ProbeCountIsExactOrOutOfMemory)
{
    EXPECT_EQ(probe_count(0, 50, 50, 400), 0);
    EXPECT_EQ(probe_count(1, 10, 10, 99), 1);
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(probe_count(most, 100, 100, index_t{1} << 20), 20479999);
    EXPECT_EQ(probe_count(3, index_t{1} << 40, 3, index_t{1} << 24), 9 * 65536);
    // A pool of about 2^51 entries could never be held or worked through.
    EXPECT_THROW(probe_count(most, 1000, 1000, 1), std::bad_alloc);
    // A point's P entries up to half the machine's memory, 8 bytes an entry, pass.
    const auto half = static_cast<index_t>(physical_memory_bytes() / 16); // entries
    EXPECT_EQ(probe_count(1, half - 1, 1, 1), half - 1);
    EXPECT_THROW(probe_count(1, half + 1, 1, 1), std::bad_alloc);
    // Many points never make too large a pool: a 2^21 x 2^21 raster of
    // 2^40 points (an 8 TB pool, were it held whole) probes 48 per point.
    EXPECT_EQ(probe_count(12, index_t{1} << 21, index_t{1} << 21, index_t{1} << 40), 48);
    // Rasters of 2^64 cells or more, whose products would wrap, are refused.
    EXPECT_THROW(probe_count(1, index_t{1} << 62, 8, 1), std::bad_alloc);
    EXPECT_THROW(probe_count(0, std::numeric_limits<index_t>::max(), 3, 1), std::bad_alloc);
    EXPECT_EQ(same_class_estimate(index_t{1} << 40, index_t{1} << 30, index_t{1} << 31),
              index_t{1} << 39);
}

TEST(Dravix, MatchesPlainPointPassOnRandomRasters)
{
    struct shape { index_t M, N, h, w; std::int32_t probes; };
    const shape shapes[] = {{40, 50, 5, 5, 12}, {47, 33, 4, 6, 1},  {64, 41, 7, 3, 12},
                            {31, 31, 1, 1, 12}, {45, 52, 11, 11, 40}, {30, 36, 5, 5, 0},
                            {38, 29, 3, 7, 25}};
    unsigned seed = 21;
    for (const shape s : shapes) {
        SCOPED_TRACE(testing::Message() << s.M << "x" << s.N << " window " << s.h << "x" << s.w
                                        << ", " << s.probes << " probes per cell");
        const std::vector<double> table = {0.3, 0.9, 0.0, 2.0, -1.0};
        const std::vector<std::int32_t> labels = test::random_labels(s.M, s.N, 5, seed);
        crt_rand ref_gen(seed);
        const auto want = density_of(
            test::reference_points(table, labels, s.M, s.N, s.h, s.w, s.probes, ref_gen), s.M, s.N, s.h, s.w);
        EXPECT_EQ(run_dravix(table, labels, s.M, s.N, s.h, s.w, s.probes, seed), want);
        EXPECT_EQ(run_dravix(table, labels, s.M, s.N, s.h, s.w, s.probes, seed, {2, 3}), want);
        ++seed;
    }
}

// So few points that each gets millions of probes: each point then draws
// its own pool entries instead of sharing the row's.
TEST(Dravix, FewPointsWithHugeProbeCountsDrawTheirOwnProbes)
{
    const index_t M = 60, N = 60, h = 9, w = 9;
    std::vector<std::int32_t> labels = test::random_labels(M, N, 2, 8);
    for (index_t k : {700, 1234, 1900, 2500, 3000}) labels[k] = 3;
    const std::vector<double> table = {0.0, 0.0, 2.0};
    crt_rand ref_gen(5);
    const auto want = density_of(test::reference_points(table, labels, M, N, h, w, 8000, ref_gen), M, N, h, w);
    EXPECT_EQ(run_dravix(table, labels, M, N, h, w, 8000, 5), want);
}

// A 1 x 1 window: every probe lands on its own point, so e = 1, T = 32767
// and every point survives; with every cell a point the map is 1 wherever
// it is scored.
TEST(Dravix, OneByOneWindowKeepsEveryPoint)
{
    const index_t M = 40, N = 30;
    const auto out = run_dravix({2.0, 2.0}, test::random_labels(M, N, 2, 6), M, N, 1, 1, 12, 3);
    test::expect_scored_map(out, M, N, 1, 1, [](index_t, index_t) { return 1.0; }, 0.0);
}

// One label everywhere and a 5 x 5 window: l = P, e = 25 and T = 6553, so a
// point survives with chance 6554 / 32768, just over 1/5.
TEST(Dravix, OneLabelFiveByFiveKeepsAboutOneFifth)
{
    const index_t M = 300, N = 300;
    const auto out = run_dravix({2.0}, std::vector<std::int32_t>(M * N, 1), M, N, 5, 5, 12, 31);
    double kept = 0, cells = 0;
    for (index_t c = 12; c < N - 12; ++c)
        for (index_t r = 12; r < M - 12; ++r, ++cells) kept += out[r + M * c];
    EXPECT_NEAR(kept / cells, 6554.0 / 32768.0, 0.005);
}

// No selectable class, or a window whose region misses a small raster: no
// point, and an all-zero map.
TEST(Dravix, NoPointGivesZeros)
{
    const auto labels = test::random_labels(40, 40, 3, 2);
    for (double v : run_dravix({0.0, -1.0, 0.00003}, labels, 40, 40, 5, 5, 12, 1)) ASSERT_EQ(v, 0.0);
    for (const auto& [h, w] : {std::pair<index_t, index_t>{6, 1}, {1, 9}, {1000000, 1000000}})
        for (double v : run_dravix({2.0}, std::vector<std::int32_t>(12, 1), 4, 3, h, w, 12, 1))
            ASSERT_EQ(v, 0.0);
}

} // namespace
} // namespace rw
