#include "maps/dravix.hpp"

#include "kernels/crt_rand.hpp"
#include "generators.hpp"
#include "map_checks.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace rw {
namespace {

template <class Generator>
std::vector<std::int32_t> run_points(const std::vector<double>& table,
                                     const std::vector<std::int32_t>& labels, index_t M,
                                     index_t N, index_t h, index_t w, std::int32_t probes,
                                     Generator& gen)
{
    const std::vector<std::int32_t> thresholds =
        threshold_table(table.data(), static_cast<index_t>(table.size()));
    return dravix_points(test::args_of(table, labels.data(), M, N, h, w), thresholds.data(),
                         probes, gen);
}

// The whole point pass written out plainly: every pass row by row, the pool
// as two offset arrays, square roots from a table.
std::vector<std::int32_t> reference_points(const std::vector<double>& table,
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
    std::vector<double> root(static_cast<std::size_t>(h * w + 1));
    for (std::size_t i = 0; i < root.size(); ++i) root[i] = std::sqrt(static_cast<double>(i));
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
            if (e > 0 && static_cast<std::int32_t>(32767.0 / root[e]) < draw) pts[r + M * c] = 0;
        }
    return pts;
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
    EXPECT_EQ((region.r1 - region.r0) * (region.c1 - region.c0), 1600);
    EXPECT_EQ(probe_count(12, 50, 50, 400), 75);
    EXPECT_EQ(same_class_estimate(121, 30, 75), 48);
    EXPECT_EQ(keep_threshold(48), 4729);
    EXPECT_EQ(keep_threshold(0), 32767);
    EXPECT_EQ(keep_threshold(1), 32767);
    EXPECT_EQ(keep_threshold(4), 16383);
    EXPECT_EQ(keep_threshold(25), 6553);
    EXPECT_EQ(keep_threshold(441), 1560);
}

TEST(DravixSizes, ProbeCountIsExactOrOutOfMemory)
{
    EXPECT_EQ(probe_count(0, 50, 50, 400), 0);
    EXPECT_EQ(probe_count(1, 10, 10, 99), 1);
    constexpr std::int32_t most = std::numeric_limits<std::int32_t>::max();
    // most * 2^40 passes 2^63; divided by 2^30 it fits again.
    EXPECT_EQ(probe_count(most, index_t{1} << 20, index_t{1} << 20, index_t{1} << 30),
              index_t{2199023254528});
    EXPECT_THROW(probe_count(most, index_t{1} << 20, index_t{1} << 20, 1), std::bad_alloc);
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
        crt_rand gen(seed), ref_gen(seed);
        EXPECT_EQ(run_points(table, labels, s.M, s.N, s.h, s.w, s.probes, gen),
                  reference_points(table, labels, s.M, s.N, s.h, s.w, s.probes, ref_gen));
        EXPECT_EQ(gen(), ref_gen()) << "a different number of draws";
        ++seed;
    }
}

// Every draw scripted by hand on a 7 x 5 raster with a 4 x 1 window: probes
// reach one row up or down and stay in their column; 6 points, P = 35 / 6 = 5
// and area 4, so l = 1 gives e = 0.
TEST(Dravix, EachDrawDecidesItsCellEntryOrPoint)
{
    const index_t M = 7, N = 5;
    // Class 1 always selected, class 2 never (no draw), class 3 at 16383.
    const std::vector<double> table = {2.0, 0.0, 0.5};
    const std::vector<std::int32_t> labels = {
        2, 2, 2, 2, 2, 2, 2, // column 0
        2, 2, 1, 3, 2, 2, 2, // column 1
        2, 1, 2, 1, 1, 1, 2, // column 2
        2, 3, 3, 1, 1, 3, 2, // column 3
        2, 2, 2, 2, 2, 2, 2, // column 4
    };
    test::scripted_generator gen;
    // Sampling, row by row over rows 2..4, columns 1..3, cells of class 1 or 3:
    // (2,1) 100 selects; (2,3) 16382 selects; (3,1) 16383 fails; (3,2) 32767,
    // (3,3) 0, (4,2) 7, (4,3) 9 select. Points j0..j5: (2,1) (2,3) (3,2)
    // (3,3) (4,2) (4,3).
    gen.values = {100, 16382, 16383, 32767, 0, 7, 9};
    // Pool: row offsets +1 +1 +1 +1 -1 +1 0 +1 -1 0 -1 (draw mod 3, minus 1),
    // each followed by a column draw that would give 0 if it were the row's.
    for (std::int32_t row_draw : {2, 5, 8, 11, 0, 14, 1, 17, 3, 4, 6}) {
        gen.values.push_back(row_draw);
        gen.values.push_back(30001);
    }
    // Same-class probes: j0 none (keeps, no draw); j1 1 (e = 0: keeps);
    // j2 4 (e = 3, T = 18918); j3 4 (T = 18918); j4 5 (e = 4, T = 16383);
    // j5 3 (e = 2, T = 23169). One draw each for j1..j5, in that order: j1
    // keeps on the top draw, j2 and j3 draw T + 1 and go, j4 draws T and
    // keeps, j5 draws T + 1 and goes.
    for (std::int32_t draw : {32767, 18919, 18919, 16383, 23170}) gen.values.push_back(draw);

    const std::vector<std::int32_t> pts = run_points(table, labels, M, N, 4, 1, 1, gen);
    std::vector<std::int32_t> want(static_cast<std::size_t>(M * N), 0);
    for (const auto& [r, c] : {std::pair{2, 1}, {2, 3}, {4, 2}}) want[r + M * c] = 1;
    EXPECT_EQ(pts, want);
    EXPECT_EQ(gen.draws, gen.values.size());
}

// A 1 x 1 window: every probe lands on its own point, so e = 1, T = 32767 and
// even the top draw keeps the point; each point still takes its draw.
TEST(Dravix, OneByOneWindowKeepsEveryPoint)
{
    const index_t M = 20, N = 30;
    const std::vector<std::int32_t> labels = test::random_labels(M, N, 2, 6);
    test::constant_generator gen{32767};
    const std::vector<std::int32_t> pts = run_points({2.0, 2.0}, labels, M, N, 1, 1, 12, gen);
    const index_t n = (M - 2) * (N - 2);
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) {
            const bool inside = r >= 1 && r < M - 1 && c >= 1 && c < N - 1;
            ASSERT_EQ(pts[r + M * c], inside ? 1 : 0) << r << "," << c;
        }
    const index_t P = 12 * M * N / n;
    EXPECT_EQ(gen.draws, n + 2 * (n + P) + n);
}

// One label everywhere and a 5 x 5 window: l = P, e = 25 and T = 6553, so a
// point survives with chance 6554 / 32768, just over 1/5.
TEST(Dravix, OneLabelFiveByFiveKeepsAboutOneFifth)
{
    const index_t M = 300, N = 300;
    const std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N), 1);
    crt_rand gen(31);
    const std::vector<std::int32_t> pts = run_points({2.0}, labels, M, N, 5, 5, 12, gen);
    const double n = 294.0 * 294.0;
    const double kept = static_cast<double>(std::count(pts.begin(), pts.end(), 1));
    const double chance = 6554.0 / 32768.0;
    EXPECT_NEAR(kept / n, chance, 4 * std::sqrt(chance * (1 - chance) / n));
}

// No selectable class, or a window whose region misses a small raster: no
// point, no probe count (nothing to divide by) and no draw.
TEST(Dravix, NoPointMeansNoDraw)
{
    const std::vector<std::int32_t> labels = test::random_labels(40, 40, 3, 2);
    test::constant_generator gen{0};
    std::vector<std::int32_t> pts = run_points({0.0, -1.0, 0.00003}, labels, 40, 40, 5, 5, 12, gen);
    EXPECT_EQ(std::count(pts.begin(), pts.end(), 0), 40 * 40);
    for (const auto& [h, w] : {std::pair<index_t, index_t>{6, 1}, {1, 9}, {1000000, 1000000}}) {
        pts = run_points({2.0}, std::vector<std::int32_t>(12, 1), 4, 3, h, w, 12, gen);
        EXPECT_EQ(std::count(pts.begin(), pts.end(), 0), 12);
    }
    EXPECT_EQ(gen.draws, 0);
}

} // namespace
} // namespace rw
