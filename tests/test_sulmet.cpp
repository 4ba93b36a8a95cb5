#include "map_checks.hpp"

namespace rw {
namespace {

std::vector<double> run_sulmet(const std::vector<double>& table, const std::int32_t* labels,
                               index_t M, index_t N, index_t h, index_t w)
{
    return test::run_map(map_request{map_kind::sulmet}, table, labels, M, N, h, w);
}

std::vector<double> run_sulmet(const std::vector<double>& table,
                               const std::vector<std::int32_t>& labels, index_t M, index_t N,
                               index_t h, index_t w)
{
    return run_sulmet(table, labels.data(), M, N, h, w);
}

// The score as it is defined, class by class: 1 - 0.5 * sum (q_k - p_k)^2.
double direct_score(const std::vector<double>& table, const std::vector<std::int32_t>& labels,
                    index_t M, index_t i, index_t j, index_t h, index_t w)
{
    const index_t K = static_cast<index_t>(table.size());
    const std::vector<index_t> n = test::window_counts(labels, K, M, i, j, h, w);
    double bracket = 0;
    for (index_t k = 0; k < K; ++k) {
        const double d = static_cast<double>(n[k]) / static_cast<double>(h * w) - table[k];
        bracket += d * d;
    }
    return 1.0 - 0.5 * bracket;
}

std::vector<std::int32_t> filled(index_t M, index_t N, std::int32_t label)
{
    return std::vector<std::int32_t>(static_cast<std::size_t>(M * N), label);
}

std::vector<std::int32_t> checkerboard(index_t M, index_t N)
{
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N));
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) labels[r + M * c] = (r + c) % 2 == 0 ? 1 : 2;
    return labels;
}

TEST(Sulmet, UniformRasterScoresByTableAlone)
{
    const index_t M = 30, N = 30, h = 5, w = 5;
    const auto ones = filled(M, N, 1);
    struct example { std::vector<double> table; double score; };
    const example examples[] = {
        {{1, 0}, 1.0},
        {{0, 1}, 0.0},
        {{1, 0, 0.5}, 0.875},  // a class that never occurs still counts
        {{0.5, 0.25, 0.25}, 0.8125},
        {{1}, 1.0},            // one class only
        {{0.25}, 0.71875},
    };
    for (const example& e : examples) {
        SCOPED_TRACE(testing::Message() << "table of " << e.table.size() << " classes, score "
                                        << e.score);
        const auto out = run_sulmet(e.table, ones, M, N, h, w);
        test::expect_scored_map(out, M, N, h, w, [&](index_t, index_t) { return e.score; }, 0.0);
    }
}

TEST(Sulmet, CheckerboardExamples)
{
    const index_t M = 30, N = 30;
    const auto board = checkerboard(M, N);
    // One cell per window: label 1 scores 0.4375, label 2 scores 0.9375.
    test::expect_scored_map(run_sulmet({0.25, 0.75}, board, M, N, 1, 1), M, N, 1, 1,
                            [&](index_t i, index_t j) {
                                return board[i + M * j] == 1 ? 0.4375 : 0.9375;
                            }, 0.0);
    // Every 2 x 2 window holds two cells of each label.
    test::expect_scored_map(run_sulmet({0.5, 0.5}, board, M, N, 2, 2), M, N, 2, 2,
                            [](index_t, index_t) { return 1.0; }, 0.0);
    // The table is not normalised.
    test::expect_scored_map(run_sulmet({1, 1}, board, M, N, 2, 2), M, N, 2, 2,
                            [](index_t, index_t) { return 0.75; }, 0.0);
}

TEST(Sulmet, HalfSplitRaster)
{
    const index_t M = 30, N = 30, h = 4, w = 4;
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N));
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) labels[r + M * c] = c < 15 ? 1 : 2;
    const auto out = run_sulmet({0, 1}, labels, M, N, h, w);
    // Output columns 12 .. 17, from windows at left columns 10 .. 15.
    const double by_column[] = {0, 0, 0.4375, 0.75, 0.9375, 1.0};
    test::expect_scored_map(out, M, N, h, w, [&](index_t, index_t j) { return by_column[j - 10]; },
                            0.0);
}

TEST(Sulmet, MatchesDirectScoreOnRandomRasters)
{
    struct shape { index_t M, N, h, w; int K; };
    const shape shapes[] = {{40, 50, 3, 3, 5},   {47, 33, 4, 6, 40}, {64, 41, 7, 2, 200},
                            {26, 30, 5, 9, 12},  {31, 31, 1, 1, 3},  {90, 80, 21, 21, 60},
                            {45, 45, 2, 17, 9}};
    unsigned seed = 11;
    for (const shape s : shapes) {
        SCOPED_TRACE(testing::Message() << s.M << "x" << s.N << " window " << s.h << "x" << s.w
                                        << " K " << s.K);
        // Proportions, and any values at all: the score is a formula, not a
        // distance, once the table does not sum to 1.
        std::vector<double> proportions = test::random_table(s.K, seed);
        double total = 0;
        for (double& p : proportions) total += (p = std::abs(p));
        for (double& p : proportions) p /= total;
        const auto labels = test::random_labels(s.M, s.N, s.K, seed++);
        for (const auto& table : {proportions, test::random_table(s.K, seed++)}) {
            const auto out = run_sulmet(table, labels, s.M, s.N, s.h, s.w);
            test::expect_scored_map(out, s.M, s.N, s.h, s.w, [&](index_t i, index_t j) {
                return direct_score(table, labels, s.M, i, j, s.h, s.w);
            }, 1e-12);
        }
    }
}

// With class values in eighths every window sum is exact, so the score must
// match bit for bit the expanded formula taken in its fixed order:
// t1 = sum n_k^2 / A^2, t2 = (2 * sum n_k p_k) / A, 1 - 0.5 * ((t1 - t2) + P).
TEST(Sulmet, ExpandedFormulaInItsFixedOrder)
{
    const index_t M = 50, N = 46, h = 7, w = 3;
    const int K = 6;
    const std::vector<double> table = {0.125, 0.375, 0.0, 0.25, 0.875, 0.5};
    const auto labels = test::random_labels(M, N, K, 5);
    double P = 0;
    for (double t : table) P = P + t * t;
    const auto out = run_sulmet(table, labels, M, N, h, w);
    test::expect_scored_map(out, M, N, h, w, [&](index_t i, index_t j) {
        const std::vector<index_t> n = test::window_counts(labels, K, M, i, j, h, w);
        index_t squares = 0;
        double b = 0;
        for (int k = 0; k < K; ++k) {
            squares += n[k] * n[k];
            b += static_cast<double>(n[k]) * table[k];
        }
        const double t1 = static_cast<double>(squares) / static_cast<double>(h * h * w * w);
        const double t2 = (2.0 * b) / static_cast<double>(h * w);
        return 1.0 - 0.5 * ((t1 - t2) + P);
    }, 0.0);
}

// (h * w)^2 = 46656^2 passes 2^31 - 1: the square sums must still be exact.
TEST(Sulmet, WindowWhoseSquaredAreaPassesThirtyTwoBits)
{
    const index_t h = 216, w = 216, M = h + 21, N = w + 24;
    test::expect_scored_map(run_sulmet({1, 0}, filled(M, N, 1), M, N, h, w), M, N, h, w,
                            [](index_t, index_t) { return 1.0; }, 0.0);
    const auto labels = test::random_labels(M, N, 3, 21);
    const std::vector<double> table = {0.6, 0.3, 0.1};
    test::expect_scored_map(run_sulmet(table, labels, M, N, h, w), M, N, h, w,
                            [&](index_t i, index_t j) {
                                return direct_score(table, labels, M, i, j, h, w);
                            }, 1e-12);
}

TEST(Sulmet, RastersTooSmallForAnyWindowGiveZerosAndReadNothing)
{
    const index_t h = 5, w = 4;
    struct size { index_t M, N; };
    // One row short, one column short, and windows wider or taller than the
    // raster itself.
    for (const size s : {size{h + 20, 40}, size{40, w + 20}, size{60, 3}, size{2, 60}}) {
        SCOPED_TRACE(testing::Message() << s.M << "x" << s.N);
        for (double v : run_sulmet({1, 0}, filled(s.M, s.N, 2), s.M, s.N, h, w)) ASSERT_EQ(v, 0.0);
    }
    const auto out = run_sulmet({0, 1}, filled(h + 21, w + 21, 2), h + 21, w + 21, h, w);
    test::expect_scored_map(out, h + 21, w + 21, h, w, [](index_t, index_t) { return 1.0; }, 0.0);
}

} // namespace
} // namespace rw
