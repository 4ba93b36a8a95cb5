#include "map_checks.hpp"

namespace rw {
namespace {

std::vector<double> run_varnok(const std::vector<double>& table,
                               const std::vector<std::int32_t>& labels, index_t M, index_t N,
                               index_t h, index_t w)
{
    return test::run_map(map_kind::varnok, table, labels, M, N, h, w);
}

double direct_mean(const std::vector<double>& table, const std::vector<std::int32_t>& labels,
                   index_t M, index_t i, index_t j, index_t h, index_t w)
{
    double sum = 0;
    for (index_t c = j; c < j + w; ++c)
        for (index_t r = i; r < i + h; ++r) sum += table[labels[r + M * c] - 1];
    return sum / static_cast<double>(h * w);
}

TEST(Varnok, MatchesDirectWindowMeanOnRandomRasters)
{
    struct shape { index_t M, N, h, w; };
    const shape shapes[] = {{40, 50, 3, 3}, {47, 33, 4, 6}, {64, 41, 7, 2}, {26, 30, 5, 9},
                            {31, 31, 1, 1}};
    unsigned seed = 1;
    for (const shape s : shapes) {
        SCOPED_TRACE(testing::Message() << s.M << "x" << s.N << " window " << s.h << "x" << s.w);
        const std::vector<double> table = test::random_table(7, seed);
        const std::vector<std::int32_t> labels = test::random_labels(s.M, s.N, 7, seed++);
        const std::vector<double> out = run_varnok(table, labels, s.M, s.N, s.h, s.w);
        test::expect_scored_map(out, s.M, s.N, s.h, s.w, [&](index_t i, index_t j) {
            return direct_mean(table, labels, s.M, i, j, s.h, s.w);
        }, 1e-12);
    }
}

// Small integer class values keep every partial sum exact, so the result
// must equal the direct mean exactly.
TEST(Varnok, IntegerClassValuesGiveExactMeans)
{
    const index_t M = 45, N = 38, h = 6, w = 5;
    const std::vector<double> table = {1, 2, 3, 4, 5};
    const std::vector<std::int32_t> labels = test::random_labels(M, N, 5, 99);
    const std::vector<double> out = run_varnok(table, labels, M, N, h, w);
    test::expect_scored_map(out, M, N, h, w, [&](index_t i, index_t j) {
        return direct_mean(table, labels, M, i, j, h, w);
    }, 0.0);
}

TEST(Varnok, SplitRasterGivesFractionOfWindowInRightHalf)
{
    const index_t M = 30, N = 40, h = 4, w = 4;
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N));
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) labels[r + M * c] = c < N / 2 ? 1 : 2;
    const std::vector<double> out = run_varnok({0.0, 1.0}, labels, M, N, h, w);
    test::expect_scored_map(out, M, N, h, w, [&](index_t, index_t j) {
        const index_t right = std::max<index_t>(0, std::min<index_t>(w, j + w - N / 2));
        return static_cast<double>(right) / static_cast<double>(w);
    }, 0.0);
}

TEST(Varnok, EmptyRasterIsLeftEmpty)
{
    EXPECT_TRUE(run_varnok({1.0}, {}, 0, 5, 3, 3).empty());
}

} // namespace
} // namespace rw

namespace rw {
namespace {

// Past 2^29 cells the scratch raster's byte count passes 2^32. Needs about
// 12 GB; run with --gtest_also_run_disabled_tests --gtest_filter='*Past*'.
TEST(Varnok, DISABLED_WorksPastTwoToTheTwentyNineCells)
{
    const index_t M = 24000, N = 24000, h = 9, w = 12;
    std::vector<double> table = {1, 2, 3, 4, 5};
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N));
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r)
            labels[r + M * c] = static_cast<std::int32_t>(1 + (7 * r + 3 * c) % 5);
    const std::vector<double> out = run_varnok(table, labels, M, N, h, w);
    for (index_t i : {index_t{10}, M / 2 + 1, M - h - 11})
        for (index_t j : {index_t{10}, N / 3, N - w - 11})
            ASSERT_EQ(out[(i + h / 2) + M * (j + w / 2)], direct_mean(table, labels, M, i, j, h, w))
                << i << "," << j;
    EXPECT_EQ(out[(M - 11) + M * (N - 1)], 0.0);
}

} // namespace
} // namespace rw
