#include "maps/ombrel.hpp"

#include "map_checks.hpp"

#include <cmath>
#include <limits>

namespace rw {
namespace {

std::vector<double> run_ombrel(const std::vector<double>& table, const std::int32_t* labels,
                               index_t M, index_t N, index_t h, index_t w)
{
    return test::run_map(map_request{map_kind::ombrel}, table, labels, M, N, h, w);
}

std::vector<double> run_ombrel(const std::vector<double>& table,
                               const std::vector<std::int32_t>& labels, index_t M, index_t N,
                               index_t h, index_t w)
{
    return run_ombrel(table, labels.data(), M, N, h, w);
}

// sum over k of table[k - 1] * sqrt(n_k / (h * w)), class by class.
double direct_score(const std::vector<double>& table, const std::vector<std::int32_t>& labels,
                    index_t M, index_t i, index_t j, index_t h, index_t w)
{
    const std::vector<index_t> n =
        test::window_counts(labels, static_cast<index_t>(table.size()), M, i, j, h, w);
    double sum = 0;
    for (std::size_t k = 0; k < n.size(); ++k)
        sum += table[k] * std::sqrt(static_cast<double>(n[k]) / static_cast<double>(h * w));
    return sum;
}

// Expects score(i, j) at the centre of every window this map scores (the
// common scored rows; columns from 10 while j < N - w - 10, and column 10
// alone whenever its window fits) and exactly 0 everywhere else.
void expect_ombrel_map(const std::vector<double>& out, index_t M, index_t N, index_t h, index_t w,
                       const std::function<double(index_t, index_t)>& score, double tol)
{
    const index_t j_end = N < w + 10 ? 10 : std::max<index_t>(11, N - w - 10);
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) {
            const index_t i = r - h / 2, j = c - w / 2;
            const bool scored = i >= 10 && i < M - h - 10 && j >= 10 && j < j_end;
            const double got = out[r + M * c];
            if (!scored) {
                ASSERT_EQ(got, 0.0) << "unscored cell at row " << r << ", column " << c;
            } else {
                const double want = score(i, j);
                ASSERT_NEAR(got, want, tol * std::max(1.0, std::abs(want)))
                    << "at row " << r << ", column " << c;
            }
        }
}

TEST(Ombrel, MatchesDirectScoreOnRandomRasters)
{
    struct shape { index_t M, N, h, w; int K; };
    const shape shapes[] = {{40, 50, 3, 3, 5},   {47, 33, 4, 6, 40}, {64, 41, 7, 2, 200},
                            {26, 30, 5, 9, 12},  {90, 80, 21, 21, 60}, {45, 70, 2, 17, 9},
                            {33, 120, 6, 5, 3}};
    unsigned seed = 31;
    for (const shape s : shapes) {
        SCOPED_TRACE(testing::Message() << s.M << "x" << s.N << " window " << s.h << "x" << s.w
                                        << " K " << s.K);
        const auto table = test::random_table(s.K, seed);
        const auto labels = test::random_labels(s.M, s.N, s.K, seed++);
        expect_ombrel_map(run_ombrel(table, labels, s.M, s.N, s.h, s.w), s.M, s.N, s.h, s.w,
                          [&](index_t i, index_t j) {
                              return direct_score(table, labels, s.M, i, j, s.h, s.w);
                          }, 1e-12);
    }
}

// Blocks of one class make the window pass from one composition to another,
// so the carried score has to follow classes that leave and come back.
TEST(Ombrel, CarriedScoreFollowsRegionsOfOneClass)
{
    const index_t M = 48, N = 90, h = 6, w = 8;
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N));
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) labels[r + M * c] = static_cast<std::int32_t>(1 + (c / 13 + r / 9) % 4);
    const std::vector<double> table = {std::sqrt(0.1), std::sqrt(0.2), std::sqrt(0.3), std::sqrt(0.4)};
    expect_ombrel_map(run_ombrel(table, labels, M, N, h, w), M, N, h, w,
                      [&](index_t i, index_t j) {
                          return direct_score(table, labels, M, i, j, h, w);
                      }, 1e-13);
}

TEST(Ombrel, UniformWindowsScoreTheirClassValue)
{
    const index_t M = 30, N = 30;
    // A 5 x 5 window has sqrt(25) = 5 exactly: table[k - 1] * 5 / 5.
    const std::vector<std::int32_t> twos(static_cast<std::size_t>(M * N), 2);
    expect_ombrel_map(run_ombrel({0.3, 0.7, 0.9}, twos, M, N, 5, 5), M, N, 5, 5,
                      [](index_t, index_t) { return 0.7; }, 0.0);
    // K = 1.
    const std::vector<std::int32_t> ones(static_cast<std::size_t>(M * N), 1);
    expect_ombrel_map(run_ombrel({0.45}, ones, M, N, 4, 3), M, N, 4, 3,
                      [](index_t, index_t) { return 0.45; }, 1e-15);
    // Every class value 1 and a window split half and half: sqrt(2).
    std::vector<std::int32_t> split(static_cast<std::size_t>(M * N));
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) split[r + M * c] = r % 2 == 0 ? 1 : 2;
    expect_ombrel_map(run_ombrel({1, 1}, split, M, N, 2, 3), M, N, 2, 3,
                      [](index_t, index_t) { return std::sqrt(2.0); }, 1e-15);
}

TEST(Ombrel, OneByOneWindowWritesTheClassValueOfEachCell)
{
    const index_t M = 31, N = 26;
    const std::vector<double> table = {-1.5, 0.25, 7.0, 3.0};
    const auto labels = test::random_labels(M, N, 4, 3);
    expect_ombrel_map(run_ombrel(table, labels, M, N, 1, 1), M, N, 1, 1,
                      [&](index_t i, index_t j) { return table[labels[i + M * j] - 1]; }, 0.0);
}

// Left column 1, 1 and right column 1, 2, sliding onto a column 2, 2.
TEST(Ombrel, TwoByTwoSlideStepsThroughTheStepTable)
{
    const index_t h = 2, w = 2, M = h + 21, N = w + 22; // one row, two windows
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N), 1);
    labels[11 + M * 11] = 2;
    labels[10 + M * 12] = 2;
    labels[11 + M * 12] = 2;
    const double r2 = std::sqrt(2.0), r3 = std::sqrt(3.0);
    // Many class values, so that another order of the same additions would
    // show in the last bits somewhere.
    const std::vector<double> values = test::random_table(100, 4);
    for (std::size_t k = 0; k + 1 < values.size(); k += 2) {
        const double t0 = values[k], t1 = values[k + 1];
        SCOPED_TRACE(testing::Message() << "table " << t0 << ", " << t1);
        // The direct sum over both classes, then the removals (3 -> 2 -> 1 of
        // class 1) and the additions (1 -> 2 -> 3 of class 2), then / sqrt(4).
        const double first = (0.0 + t0 * r3) + t1 * 1.0;
        const double second =
            (((first - t0 * (r3 - r2)) - t0 * (r2 - 1.0)) + t1 * (r2 - 1.0)) + t1 * (r3 - r2);
        const auto out = run_ombrel({t0, t1}, labels, M, N, h, w);
        EXPECT_NEAR(out[11 + M * 11], (t0 * r3 + t1) / 2, 1e-14);
        EXPECT_NEAR(out[11 + M * 12], (t0 + t1 * r3) / 2, 1e-14);
        expect_ombrel_map(out, M, N, h, w, [&](index_t, index_t j) {
            return j == 10 ? first / 2.0 : second / 2.0;
        }, 0.0);
    }
}

// From N = w + 10 to w + 21 each scored row holds exactly one window, at
// column 10; below w + 10 the first window does not fit and nothing is read.
TEST(Ombrel, FirstColumnIsScoredWheneverItsWindowFits)
{
    const index_t h = 5, w = 4, M = h + 23;
    const std::vector<double> table = {0.5, -1.0, 2.0};
    for (index_t N = w + 9; N <= w + 23; ++N) {
        SCOPED_TRACE(testing::Message() << "N = " << N);
        const auto labels = test::random_labels(M, N, 3, static_cast<unsigned>(N));
        const auto out = run_ombrel(table, N < w + 10 ? nullptr : labels.data(), M, N, h, w);
        expect_ombrel_map(out, M, N, h, w, [&](index_t i, index_t j) {
            return direct_score(table, labels, M, i, j, h, w);
        }, 1e-13);
        index_t written = 0;
        for (double v : out) written += v != 0.0;
        const index_t per_row = N < w + 10 ? 0 : std::max<index_t>(1, N - w - 20);
        EXPECT_EQ(written, 3 * per_row);
    }
}

TEST(Ombrel, ReadBlockIsTheBlockOfItsWindows)
{
    const index_t h = 5, w = 4;
    struct block_case { index_t M, N, r1, c1; };
    for (const block_case b : {block_case{h + 30, w + 40, h + 19, w + 29},
                               block_case{h + 30, w + 21, h + 19, w + 10},
                               block_case{h + 30, w + 10, h + 19, w + 10},
                               block_case{h + 21, w + 15, h + 10, w + 10}}) {
        const cell_block got = ombrel_read_block(b.M, b.N, h, w);
        EXPECT_EQ(got.r0, 10);
        EXPECT_EQ(got.r1, b.r1);
        EXPECT_EQ(got.c0, 10);
        EXPECT_EQ(got.c1, b.c1);
    }
    // No window: nothing is read, not even a window wider or taller than the
    // raster.
    struct size { index_t M, N; };
    for (const size s : {size{h + 20, 40}, size{40, w + 9}, size{60, 3}, size{2, 60}}) {
        SCOPED_TRACE(testing::Message() << s.M << "x" << s.N);
        const cell_block b = ombrel_read_block(s.M, s.N, h, w);
        EXPECT_TRUE(b.r1 <= b.r0 || b.c1 <= b.c0);
        for (double v : run_ombrel({1, 0}, nullptr, s.M, s.N, h, w)) ASSERT_EQ(v, 0.0);
    }
}

// Labels outside the read block take no part: changing them changes nothing.
TEST(Ombrel, LabelsOutsideTheReadBlockHaveNoEffect)
{
    const index_t M = 40, N = 44, h = 3, w = 6;
    auto labels = test::random_labels(M, N, 4, 17);
    const std::vector<double> table = {1, 2, 3, 4};
    const auto before = run_ombrel(table, labels, M, N, h, w);
    const cell_block b = ombrel_read_block(M, N, h, w);
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r)
            if (r < b.r0 || r >= b.r1 || c < b.c0 || c >= b.c1) labels[r + M * c] = 1 + (labels[r + M * c] % 4);
    EXPECT_EQ(run_ombrel(table, labels, M, N, h, w), before);
}

} // namespace
} // namespace rw
