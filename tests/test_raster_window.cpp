#include "kernels/label_check.hpp"
#include "kernels/raster_window.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace rw {
namespace {

TEST(ScoredPositions, NeedTwentyOneSpareRowsAndColumns)
{
    EXPECT_TRUE(scored_positions_of(5 + 20, 100, 5, 7).empty());
    EXPECT_TRUE(scored_positions_of(100, 7 + 20, 5, 7).empty());
    const scored_positions one_row = scored_positions_of(5 + 21, 7 + 21, 5, 7);
    EXPECT_EQ(one_row.i0, 10);
    EXPECT_EQ(one_row.i_end, 11);
    EXPECT_EQ(one_row.j0, 10);
    EXPECT_EQ(one_row.j_end, 11);
    EXPECT_TRUE(scored_positions_of(0, 0, 1, 1).empty());
}

// Window means of an all-ones raster mark exactly the written block.
std::vector<double> ones_means(index_t M, index_t N, index_t h, index_t w)
{
    std::vector<double> s(static_cast<std::size_t>(M * N), 1.0), out(s.size(), 0.0);
    summed_area_table(s.data(), M, N);
    write_window_means(s.data(), M, N, h, w, out.data());
    return out;
}

TEST(WindowMeans, OneByOneWindowWritesRowsAndColumnsTenToSizeLessTwelve)
{
    const index_t M = 31, N = 26;
    const std::vector<double> out = ones_means(M, N, 1, 1);
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) {
            const bool inside = r >= 10 && r <= M - 12 && c >= 10 && c <= N - 12;
            EXPECT_EQ(out[r + M * c], inside ? 1.0 : 0.0) << r << "," << c;
        }
}

TEST(WindowMeans, FiveByFourWindowWritesTwoRowsDownAndTwoColumnsRight)
{
    const index_t h = 5, w = 4, M = h + 21, N = w + 22; // positions (10, 10) and (10, 11)
    const std::vector<double> out = ones_means(M, N, h, w);
    double total = 0;
    for (double v : out) total += v;
    EXPECT_EQ(total, 2.0);
    EXPECT_EQ(out[12 + M * 12], 1.0);
    EXPECT_EQ(out[12 + M * 13], 1.0);
}

TEST(WindowMeans, RasterOneRowShortWritesNothing)
{
    for (double v : ones_means(5 + 20, 40, 5, 4)) ASSERT_EQ(v, 0.0);
}

// The table must be bit-for-bit the one built by the defining loops: along
// rows first (rows outer), then down columns (rows outer).
TEST(SummedAreaTable, MatchesDefiningLoopsBitForBit)
{
    const index_t M = 37, N = 23;
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> x(static_cast<std::size_t>(M * N));
    for (auto& v : x) v = value(gen) * 1e3;
    std::vector<double> ref = x;
    for (index_t r = 0; r < M; ++r)
        for (index_t c = 1; c < N; ++c) ref[r + M * c] = ref[r + M * (c - 1)] + ref[r + M * c];
    for (index_t r = 1; r < M; ++r)
        for (index_t c = 0; c < N; ++c) ref[r + M * c] = ref[(r - 1) + M * c] + ref[r + M * c];

    summed_area_table(x.data(), M, N);
    for (std::size_t k = 0; k < x.size(); ++k) ASSERT_EQ(x[k], ref[k]) << "at " << k;
}

TEST(SummedAreaTable, IntegerTableAndBoxSumMatchDirectSums)
{
    const index_t M = 19, N = 29;
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> value(-50, 50);
    std::vector<std::int32_t> x(static_cast<std::size_t>(M * N));
    for (auto& v : x) v = value(gen);
    const std::vector<std::int32_t> original = x;
    summed_area_table(x.data(), M, N);
    for (index_t i = 1; i < M; ++i)
        for (index_t j = 1; j < N; ++j)
            for (index_t h : {1, 2, 5})
                for (index_t w : {1, 3, 4}) {
                    if (i + h > M || j + w > N) continue;
                    std::int32_t direct = 0;
                    for (index_t c = j; c < j + w; ++c)
                        for (index_t r = i; r < i + h; ++r) direct += original[r + M * c];
                    ASSERT_EQ(box_sum(x.data(), M, i, j, h, w), direct) << i << "," << j;
                }
}

// Past 2^31 the integer table wraps, yet a small window's sum stays exact.
TEST(SummedAreaTable, IntegerBoxSumSurvivesWrapAround)
{
    const std::int32_t big = 1 << 30;
    std::vector<std::int32_t> x = {big, big, big, 1}; // 2 x 2, column-major
    summed_area_table(x.data(), 2, 2);
    EXPECT_EQ(box_sum(x.data(), 2, 1, 1, 1, 1), 1);
}

TEST(LabelCheck, FindsFirstBadLabelColumnMajorWithinBlock)
{
    // 3 x 3, column-major; the 0 at (2, 0) lies outside the block checked.
    const std::vector<std::int32_t> labels = {1, 2, 0, 2, 3, 1, 4, 1, 2};
    EXPECT_FALSE(find_bad_label(labels.data(), 3, 3, 4, {0, 2, 0, 3}));
    const auto bad = find_bad_label(labels.data(), 3, 3, 3, {0, 2, 0, 3});
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->value, 4);
    EXPECT_EQ(bad->row, 0);
    EXPECT_EQ(bad->col, 2);
    const auto zero = find_bad_label(labels.data(), 3, 3, 4, whole_raster(3, 3));
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->value, 0);
    EXPECT_TRUE(find_bad_label(labels.data(), 3, 3, 0, {0, 1, 0, 1}));
}

} // namespace
} // namespace rw
