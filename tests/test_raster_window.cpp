#include "kernels/label_check.hpp"
#include "kernels/raster_window.hpp"
#include "kernels/summed_area.hpp"
#include "kernels/worker_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
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
    // Windows far larger than the raster must not wrap the comparison.
    constexpr index_t huge = std::numeric_limits<index_t>::max() - 5;
    EXPECT_TRUE(scored_positions_of(8, 100, huge, 3).empty());
    EXPECT_TRUE(scored_positions_of(100, 8, 3, huge).empty());
}

// The table built in strips of `strip` rows, returned whole, column-major.
template <class T>
std::vector<T> strip_table(const std::vector<T>& x, index_t M, index_t N, index_t strip,
                           worker_pool& pool)
{
    std::vector<T> whole(x.size());
    summed_area_strip<T> table(N, 1, strip);
    for (index_t a = 0; a < M; a += strip) {
        const index_t b = std::min(M, a + strip);
        table.start(a, b, pool);
        table.build(a, b, [&](index_t c, index_t r0, index_t r1, T* dst) {
            for (index_t r = r0; r < r1; ++r) dst[r - r0] = x[r + M * c];
        }, pool);
        for (index_t c = 0; c < N; ++c)
            for (index_t r = a; r < b; ++r) whole[r + M * c] = *table.at(r, c);
    }
    return whole;
}

// The table must be bit-for-bit the one built by the defining loops: along
// rows first (rows outer), then down columns (rows outer), for any strip
// height and number of threads.
TEST(SummedAreaTable, MatchesDefiningLoopsBitForBit)
{
    const index_t M = 37, N = 23;
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> x(static_cast<std::size_t>(M * N));
    for (auto& v : x) v = value(gen) * 1e3;
    x[0] = -0.0; // the first cell keeps its sign: nothing is added to it
    std::vector<double> ref = x;
    for (index_t r = 0; r < M; ++r)
        for (index_t c = 1; c < N; ++c) ref[r + M * c] = ref[r + M * (c - 1)] + ref[r + M * c];
    for (index_t r = 1; r < M; ++r)
        for (index_t c = 0; c < N; ++c) ref[r + M * c] = ref[(r - 1) + M * c] + ref[r + M * c];

    for (int threads : {1, 3})
        for (index_t strip : {1, 5, 37}) {
            worker_pool pool(threads);
            const std::vector<double> got = strip_table(x, M, N, strip, pool);
            for (std::size_t k = 0; k < x.size(); ++k)
                ASSERT_EQ(std::bit_cast<std::uint64_t>(got[k]), std::bit_cast<std::uint64_t>(ref[k]))
                    << "at " << k << ", strips of " << strip << ", " << threads << " threads";
        }
}

// Box sums from an integer table match direct sums, also once the table
// wraps past 2^31.
TEST(SummedAreaTable, IntegerBoxSumsMatchDirectSumsThroughWrapAround)
{
    const index_t M = 19, N = 29;
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> value(-50, 50);
    std::vector<std::int32_t> x(static_cast<std::size_t>(M * N));
    for (auto& v : x) v = value(gen);
    x[0] = x[1] = std::numeric_limits<std::int32_t>::max();
    worker_pool pool(1);
    const std::vector<std::int32_t> s = strip_table(x, M, N, 4, pool);
    for (index_t i = 1; i < M; ++i)
        for (index_t j = 1; j < N; ++j)
            for (index_t h : {1, 2, 5})
                for (index_t w : {1, 3, 4}) {
                    if (i + h > M || j + w > N) continue;
                    std::int32_t direct = 0;
                    for (index_t c = j; c < j + w; ++c)
                        for (index_t r = i; r < i + h; ++r) direct += x[r + M * c];
                    const auto S = [&](index_t r, index_t c) { return s[r + M * c]; };
                    ASSERT_EQ(box_sum(S(i + h - 1, j + w - 1), S(i - 1, j + w - 1),
                                      S(i + h - 1, j - 1), S(i - 1, j - 1)),
                              direct) << i << "," << j;
                }
}

TEST(LabelCheck, FindsFirstBadLabelColumnMajorInEveryLayout)
{
    // 3 x 3, column-major; the 0 at (2, 0) lies outside the block checked.
    const std::vector<std::int32_t> labels = {1, 2, 0, 2, 3, 1, 4, 1, 2};
    std::vector<std::int32_t> by_rows(9);
    for (index_t c = 0; c < 3; ++c)
        for (index_t r = 0; r < 3; ++r) by_rows[r * 3 + c] = labels[r + 3 * c];
    for (const label_view view : {column_major(labels.data(), 3, 3), row_major<const std::int32_t>(by_rows.data(), 3, 3)}) {
        EXPECT_FALSE(find_bad_label(view, 4, {0, 2, 0, 3}));
        const auto bad = find_bad_label(view, 3, {0, 2, 0, 3});
        ASSERT_TRUE(bad);
        EXPECT_EQ(bad->value, 4);
        EXPECT_EQ(bad->row, 0);
        EXPECT_EQ(bad->col, 2);
        const auto zero = find_bad_label(view, 4, whole_raster(3, 3));
        ASSERT_TRUE(zero);
        EXPECT_EQ(zero->value, 0);
        EXPECT_EQ(zero->row, 2);
        // A band of rows keeps the rows' own numbers.
        const auto in_band = find_bad_label(view.band(1, 3), 1, whole_raster(3, 3));
        ASSERT_TRUE(in_band);
        EXPECT_EQ(in_band->value, 2);
        EXPECT_EQ(in_band->row, 1);
        EXPECT_EQ(in_band->col, 0);
        EXPECT_TRUE(find_bad_label(view, 0, {0, 1, 0, 1}));
    }
}

TEST(WorkerPool, CoversEveryIndexOnceAndPassesExceptionsOn)
{
    for (int threads : {1, 2, 7}) {
        worker_pool pool(threads);
        for (index_t n : {1, 3, 1000}) {
            std::vector<std::atomic<int>> seen(static_cast<std::size_t>(n));
            pool.parallel_for(n, [&](index_t b, index_t e) {
                for (index_t k = b; k < e; ++k) ++seen[k];
            });
            for (index_t k = 0; k < n; ++k) ASSERT_EQ(seen[k], 1) << k << " of " << n;
        }
        EXPECT_THROW(pool.parallel_for(10, [](index_t, index_t) { throw std::runtime_error("no"); }),
                     std::runtime_error);
        pool.parallel_for(4, [](index_t, index_t) {}); // still usable afterwards
    }
}

} // namespace
} // namespace rw
