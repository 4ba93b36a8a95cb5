// The maps under exact arithmetic. Varnok and Marnisa: every scored window
// gets the correctly rounded mean of its values, checked against exact sums
// held here as plain multi-word integers (any double is an integer multiple
// of 2^-1077, half its smallest spacing, in 2304 bits), whatever the span of
// the table. Sulmet and Ombrel: within their error bounds of the score
// computed here in binary128 from each window's own counts.
#include "map_checks.hpp"

#include "kernels/exact_sum.hpp"
#include "maps/catalogue.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace rw {
namespace {

// A signed integer in two's complement, counting units of 2^-1077.
struct fixed {
    std::array<std::uint32_t, 72> word{};

    static fixed of(double v)
    {
        fixed x;
        int e = 0;
        const double f = std::frexp(std::fabs(v), &e);
        if (f == 0) return x;
        auto m = static_cast<std::uint64_t>(std::ldexp(f, 53)); // |v| = m 2^(e - 53)
        const int shift = e - 53 + 1077;                         // >= 3 for any double
        for (int k = 0; k < 64; ++k)
            if ((m >> k) & 1) x.word[(shift + k) / 32] |= std::uint32_t{1} << ((shift + k) % 32);
        return v < 0 ? x.negated() : x;
    }
    fixed negated() const
    {
        fixed x;
        std::uint64_t carry = 1;
        for (std::size_t k = 0; k < word.size(); ++k) {
            carry += static_cast<std::uint32_t>(~word[k]);
            x.word[k] = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
        return x;
    }
    fixed& operator+=(const fixed& y)
    {
        std::uint64_t carry = 0;
        for (std::size_t k = 0; k < word.size(); ++k) {
            carry += std::uint64_t{word[k]} + y.word[k];
            word[k] = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
        return *this;
    }
    fixed times(index_t n) const // n >= 0: a word at a time
    {
        fixed x;
        for (int half = 0; half < 2; ++half) {
            const std::uint64_t factor = static_cast<std::uint64_t>(n) >> (32 * half) & 0xffffffffu;
            std::uint64_t carry = 0;
            for (std::size_t k = half; k < word.size(); ++k) {
                carry += std::uint64_t{x.word[k]} + std::uint64_t{word[k - half]} * factor;
                x.word[k] = static_cast<std::uint32_t>(carry);
                carry >>= 32;
            }
        }
        return x;
    }
    bool negative() const { return word.back() >> 31; }
    bool zero() const
    {
        for (const std::uint32_t w : word)
            if (w) return false;
        return true;
    }
};

// Sign of a - b.
int compare(const fixed& a, const fixed& b)
{
    fixed d = a;
    d += b.negated();
    return d.zero() ? 0 : d.negative() ? -1 : 1;
}

// Whether r is the double nearest sum / cells, ties to the even one.
::testing::AssertionResult correctly_rounded(double r, const fixed& sum, index_t cells)
{
    if (sum.zero()) {
        if (std::bit_cast<std::uint64_t>(r) == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << r << " for a sum of 0";
    }
    const double below = std::nextafter(r, -INFINITY), above = std::nextafter(r, INFINITY);
    fixed low = fixed::of(below), high = fixed::of(above), at = fixed::of(r);
    low += at;  // twice the midpoints, to stay in whole units
    high += at;
    const fixed twice = sum.times(2);
    const bool even = (std::bit_cast<std::uint64_t>(r) & 1) == 0;
    const int lo = compare(twice, low.times(cells)), hi = compare(twice, high.times(cells));
    if ((lo > 0 || (lo == 0 && even)) && (hi < 0 || (hi == 0 && even))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << std::hexfloat << r << " is not the nearest double to the mean";
}

// The rounding of a quotient on its own, over the whole range of window
// sums (up to 2^127) and cell counts (up to 2^63 - 1): sums on and next to
// the midpoints between doubles, where an estimate from doubles is most
// often one step off; one window at a time and in runs.
TEST(ExactMeans, QuotientsOfWideSumsRoundToNearest)
{
    const double one = 1.0;
    const value_scale scale(&one, 1, 2); // integers: the mean is sum / cells
    std::mt19937_64 gen(41);
    const auto fixed_of = [](wide_sum magnitude, bool negative) {
        fixed x;
        for (int k = 0; k < 4; ++k)
            x += fixed::of(std::ldexp(static_cast<double>(static_cast<std::uint32_t>(magnitude >> (32 * k))), 32 * k));
        return negative ? x.negated() : x;
    };
    int checked = 0, split_checked = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        const int count_bits = 1 + static_cast<int>(gen() % 63);
        const index_t cells = static_cast<index_t>(std::max<std::uint64_t>(1, gen() >> (64 - count_bits)));
        // A midpoint q / 2 times cells, q of 54 bits and odd, moved by -1, 0 or 1.
        // Every few trials the midpoints next to a power of two, where the
        // spacing of doubles changes.
        const std::uint64_t edges[] = {(std::uint64_t{1} << 54) - 1, (std::uint64_t{1} << 53) + 1,
                                       (gen() >> 10) | (std::uint64_t{1} << 53) | 1};
        const std::uint64_t q = edges[std::min<std::uint64_t>(gen() % 8, 2)];
        const int room = 127 - 54 - static_cast<int>(std::bit_width(static_cast<std::uint64_t>(cells)));
        if (room < 0) continue;
        const int shift = static_cast<int>(gen() % static_cast<std::uint64_t>(room + 1));
        const wide_sum midpoint = (static_cast<wide_sum>(q) * static_cast<wide_sum>(cells)) << shift;
        const wide_sum magnitude = midpoint + static_cast<wide_sum>(static_cast<int>(gen() % 3) - 1);
        if (magnitude == 0 || (magnitude >> 127)) continue;
        const bool negative = gen() & 1;
        const wide_sum sum = negative ? -magnitude : magnitude;
        const double mean = scale.mean(&sum, cells);
        ASSERT_TRUE(correctly_rounded(mean, fixed_of(magnitude, negative), cells))
            << "cells " << cells << ", shift " << shift;
        double batched = 0; // the rounding that runs of windows take
        scale.means_of_words(&sum, &cells, &batched, 1);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(batched), std::bit_cast<std::uint64_t>(mean))
            << batched << " for " << mean << ", cells " << cells << ", shift " << shift;
        if ((magnitude >> 80) == 0 && cells < (index_t{1} << 20)) { // as sliding sums hand them on
            const auto high = static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<signed_wide_sum>(sum) >> 32));
            const std::uint64_t low = static_cast<std::uint64_t>(sum) & 0xffffffff;
            const double count = static_cast<double>(cells);
            double split = 0;
            scale.means_of_split_sums(&high, &low, &count, &split, 1);
            ASSERT_EQ(std::bit_cast<std::uint64_t>(split), std::bit_cast<std::uint64_t>(mean))
                << split << " for " << mean << ", cells " << cells << ", shift " << shift;
            ++split_checked;
        }
        ++checked;
    }
    EXPECT_GT(checked, 10000);
    EXPECT_GT(split_checked, 1000);
}

struct exact_case {
    map_kind map;
    std::vector<double> table;
    index_t h, w;
    bool nodata;
};

map_request exact_request(const exact_case& c)
{
    map_request q{c.map};
    q.arithmetic = arithmetic::exact;
    q.nodata = c.nodata;
    q.policy = nodata_policy::renormalise;
    q.min_valid = 0.4;
    q.seed = 77;
    return q;
}

// q with its table and window.
map_request sized(map_request q, const std::vector<double>& table, index_t h, index_t w)
{
    q.table = table.data();
    q.K = static_cast<index_t>(table.size());
    q.h = h;
    q.w = w;
    return q;
}

// Marnisa's tables here hold values that are always kept (32768/32767 or
// more) or never (below 1/32767, NaN), so its kept cells are known.
double added(map_kind map, double v)
{
    return map == map_kind::marnisa && !(v >= 32768.0 / 32767.0) ? 0.0 : v;
}

class ExactMeans : public ::testing::TestWithParam<exact_case> {};

TEST_P(ExactMeans, EveryWindowGetsTheCorrectlyRoundedMean)
{
    const exact_case c = GetParam();
    const index_t M = 37, N = 41, K = static_cast<index_t>(c.table.size());
    std::vector<std::int32_t> labels = test::random_labels(M, N, static_cast<int>(K), 5);
    if (c.nodata) // a block and a scatter of cells without a class
        for (index_t k = 0; k < M * N; ++k)
            if (k % 7 == 3 || (k % M > 12 && k % M < 22 && k / M > 15 && k / M < 26)) labels[k] = static_cast<std::int32_t>(K + 1);
    const map_request q = exact_request(c);
    const std::vector<double> out = test::run_map(q, c.table, labels.data(), M, N, c.h, c.w, {1});
    const index_t least = least_valid_cells(sized(q, c.table, c.h, c.w));
    const index_t di = centre_offset(c.h), dj = centre_offset(c.w);
    index_t checked = 0;
    for (index_t i = 10; i + c.h + 11 <= M; ++i)
        for (index_t j = 10; j + c.w + 11 <= N; ++j) {
            fixed sum;
            index_t valid = 0;
            for (index_t cc = j; cc < j + c.w; ++cc)
                for (index_t r = i; r < i + c.h; ++r) {
                    const std::int32_t l = labels[r + M * cc];
                    if (l > K) continue;
                    ++valid;
                    sum += fixed::of(added(c.map, c.table[l - 1]));
                }
            const double score = out[(i + di) + M * (j + dj)];
            if (valid < least || valid == 0) {
                EXPECT_TRUE(std::isnan(score)) << "window at " << i << ", " << j;
                continue;
            }
            EXPECT_TRUE(correctly_rounded(score, sum, valid)) << "window at " << i << ", " << j;
            ++checked;
        }
    EXPECT_GT(checked, 100);
}

const double third = 1.0 / 3.0;

INSTANTIATE_TEST_SUITE_P(
    AwkwardTables, ExactMeans,
    ::testing::Values(
        exact_case{map_kind::varnok, {0.1, third, 1e-9, 1e9, -0.7, -third}, 3, 3, false},
        exact_case{map_kind::varnok, {0.1, third, 1e-9, 1e9, -0.7, -third}, 5, 4, true},
        exact_case{map_kind::varnok, {0.2, 0.9, 0.3}, 7, 7, false},
        exact_case{map_kind::varnok, {4.9e-324, 1e-310, 3e-320, -2.2e-308}, 3, 5, false},
        // means halfway between two doubles, normal and subnormal
        exact_case{map_kind::varnok, {1.0, 1 + 0x1p-52, 1 + 0x1p-51, -1.0, -1 - 0x1p-52}, 1, 2, false},
        exact_case{map_kind::varnok, {0x1p-1074, 0.0, 0x1p-1073, -0x1p-1074}, 1, 2, false},
        // wider than 128 bits: one table per digit
        exact_case{map_kind::varnok, {1e-300, 1e300, third, -2.5e-200, 7e150}, 4, 3, false},
        exact_case{map_kind::varnok, {1e-300, 1e300, third, -2.5e-200, 7e150}, 3, 3, true},
        exact_case{map_kind::varnok, {1e-300, 1.0}, 2, 2, false},
        exact_case{map_kind::marnisa, {4.0 / 3.0, 1e9, 1.1, -5.0, 0x1p-20, 1e-7}, 3, 3, false},
        exact_case{map_kind::marnisa, {4.0 / 3.0, 1e9, 1.1, -5.0, 0x1p-20, 1e-7}, 4, 5, true},
        exact_case{map_kind::marnisa, {1e300, 1.5, std::nan(""), -INFINITY, 1e-300}, 3, 3, false},
        // within 62 bits: sums slide along the rows
        exact_case{map_kind::marnisa, {4.0 / 3.0, 1.1, -5.0, 2.5, 1e-7}, 4, 5, true},
        exact_case{map_kind::varnok, {0.2, 0.9, 0.3, -0.45}, 5, 4, true}),
    [](const auto& named) { return std::string(entry_of(named.param.map).name) + "_" + std::to_string(named.index); });

// The cases users meet first: a window of one class gives exactly its value,
// a 1 x 1 window its cell's value, and values >= 0 never a negative mean, on
// a raster large enough for the double table's sums to have drifted.
TEST(ExactMeans, OneClassOneCellAndSignsAreExact)
{
    const index_t M = 300, N = 260;
    const std::vector<double> table{0.2, 0.9, 0.1, 1e-9, 0.7};
    const std::vector<std::int32_t> ones(static_cast<std::size_t>(M * N), 1);
    map_request q{map_kind::varnok};
    q.arithmetic = arithmetic::exact;
    for (const double v : test::run_map(q, table, ones.data(), M, N, 3, 3))
        if (v != 0) {
            ASSERT_EQ(v, 0.2);
        }

    const std::vector<std::int32_t> labels = test::random_labels(M, N, 5, 11);
    const std::vector<double> cell = test::run_map(q, table, labels.data(), M, N, 1, 1);
    for (index_t c = 10; c < N - 11; ++c)
        for (index_t r = 10; r < M - 11; ++r) ASSERT_EQ(cell[r + M * c], table[labels[r + M * c] - 1]);

    for (const index_t size : {2, 5, 21})
        for (const double v : test::run_map(q, table, labels.data(), M, N, size, size + 1)) ASSERT_GE(v, 0.0);
}

// Marnisa under exact draws exactly the cells it draws under the plug-ins'
// arithmetic: 1 x 1 windows show each cell's fate, its value or 0.
TEST(ExactMeans, MarnisaKeepsTheSameCells)
{
    const index_t M = 60, N = 50;
    const std::vector<double> table{0.5, 0.25, 0.9, 0.1};
    const std::vector<std::int32_t> labels = test::random_labels(M, N, 4, 3);
    map_request q{map_kind::marnisa};
    q.seed = 2024;
    const std::vector<double> plugin = test::run_map(q, table, labels.data(), M, N, 1, 1);
    q.arithmetic = arithmetic::exact;
    const std::vector<double> exact = test::run_map(q, table, labels.data(), M, N, 1, 1);
    index_t kept = 0;
    for (index_t c = 10; c < N - 11; ++c)
        for (index_t r = 10; r < M - 11; ++r) {
            const double v = exact[r + M * c];
            ASSERT_TRUE(v == 0 || v == table[labels[r + M * c] - 1]);
            ASSERT_EQ(v != 0, std::fabs(plugin[r + M * c]) > 1e-3) << r << ", " << c;
            kept += v != 0;
        }
    EXPECT_GT(kept, 100);
}

// Threads and strip heights change nothing under exact either (tilings:
// test_tiles.cpp).
TEST(ExactMeans, ThreadsAndStripsGiveTheSameBits)
{
    const index_t M = 90, N = 70;
    const std::vector<std::int32_t> labels = test::random_labels(M, N, 5, 9);
    for (const map_kind map : {map_kind::varnok, map_kind::marnisa})
        for (const std::vector<double>& table :
             {std::vector<double>{0.1, third, 1e-9, 1e9, -0.7}, std::vector<double>{1e300, 0.6, 1e-300, 2.0, 0.3}}) {
            map_request q{map};
            q.arithmetic = arithmetic::exact;
            q.seed = 5;
            const std::vector<double> one = test::run_map(q, table, labels.data(), M, N, 9, 6, {1});
            for (const int threads : {2, 3})
                for (const index_t strip : {1, 4, 13, 0}) {
                    const std::vector<double> other =
                        test::run_map(q, table, labels.data(), M, N, 9, 6, {threads, strip});
                    EXPECT_EQ(std::memcmp(one.data(), other.data(), one.size() * sizeof(double)), 0)
                        << threads << " threads, strips of " << strip;
                }
        }
}

// Tables whose values span at most 62 bits slide their sums along the rows
// of rectangles. Windows cut by the raster's edges and by nodata, on one to
// three threads and in strips of any height, still get the correctly
// rounded mean of their cells; Marnisa (whose kept cells draw at random)
// and Sulmet the same bits.
TEST(ExactMeans, SlidingSumsHoldAtEdgesOnEveryPath)
{
    const index_t M = 41, N = 37, h = 6, w = 5;
    const std::vector<double> table{0.1, third, -0.7, 2.5, 1.1};
    std::vector<std::int32_t> labels = test::random_labels(M, N, 5, 21);
    for (index_t k = 0; k < M * N; k += 9) labels[k] = 6; // nodata
    for (const map_kind map : {map_kind::varnok, map_kind::marnisa, map_kind::sulmet}) {
        map_request q{map};
        q.arithmetic = arithmetic::exact;
        q.edges = edge_rule::partial;
        q.nodata = true;
        q.policy = nodata_policy::renormalise;
        q.seed = 8;
        const std::vector<double> one = test::run_map(q, table, labels.data(), M, N, h, w, {1});
        for (const int threads : {2, 3})
            for (const index_t strip : {1, 5, 0}) {
                const std::vector<double> other = test::run_map(q, table, labels.data(), M, N, h, w, {threads, strip});
                ASSERT_EQ(std::memcmp(one.data(), other.data(), one.size() * sizeof(double)), 0)
                    << entry_of(map).name << ", " << threads << " threads, strips of " << strip;
            }
        if (map != map_kind::varnok) continue;
        const index_t di = centre_offset(h), dj = centre_offset(w);
        index_t checked = 0;
        for (index_t i = -di; i + di < M; ++i)
            for (index_t j = -dj; j + dj < N; ++j) {
                fixed sum;
                index_t valid = 0;
                for (index_t c = std::max<index_t>(j, 0); c < std::min(j + w, N); ++c)
                    for (index_t r = std::max<index_t>(i, 0); r < std::min(i + h, M); ++r)
                        if (labels[r + M * c] <= 5) {
                            sum += fixed::of(table[labels[r + M * c] - 1]);
                            ++valid;
                        }
                const double score = one[(i + di) + M * (j + dj)];
                if (valid == 0 || std::isnan(score)) continue; // too few valid cells
                ASSERT_TRUE(correctly_rounded(score, sum, valid)) << "window at " << i << ", " << j;
                ++checked;
            }
        EXPECT_GT(checked, M * N / 2);
    }
}

// --- Sulmet and Ombrel --------------------------------------------------------

__extension__ typedef __float128 quad; // 113 bits: the reference's own error is far below the bounds

quad magnitude(quad x) { return x < 0 ? -x : x; }

quad root(quad x)
{
    if (x == 0) return 0;
    quad r = std::sqrt(static_cast<double>(x));
    for (int k = 0; k < 3; ++k) r = (r + x / r) / 2;
    return r;
}

double ulp(double x) { return std::nextafter(std::fabs(x), INFINITY) - std::fabs(x); }

struct score_case {
    map_kind map;
    std::vector<double> table;
    index_t h, w;
    bool nodata;
};

class ExactScores : public ::testing::TestWithParam<score_case> {};

// Sulmet: within half an ulp plus 2^-100 (1 + 2 max|t| + K sum t^2) of the
// exact score. Ombrel: within 5 * 2^-53 of the sum of the terms' magnitudes
// over sqrt(v) (of the score, when every value is >= 0): one rounding of
// each root, term, sum and quotient. Rows of 600 windows would show any
// drift along them.
TEST_P(ExactScores, EveryWindowIsWithinItsBound)
{
    const score_case c = GetParam();
    const index_t M = 34, N = 640, K = static_cast<index_t>(c.table.size());
    std::vector<std::int32_t> labels = test::random_labels(M, N, static_cast<int>(K), 8);
    if (c.nodata)
        for (index_t k = 0; k < M * N; ++k)
            if (k % 5 == 2) labels[k] = static_cast<std::int32_t>(K + 1);
    const map_request q = exact_request({c.map, c.table, c.h, c.w, c.nodata});
    const std::vector<double> out = test::run_map(q, c.table, labels.data(), M, N, c.h, c.w, {2});
    quad largest = 0, squares = 0;
    for (const double t : c.table) {
        largest = std::max(largest, magnitude(t));
        squares += quad{t} * t;
    }
    const quad sulmet_slack = (1 + 2 * largest + static_cast<quad>(K) * squares) * std::ldexp(1.0, -100);
    const index_t least = least_valid_cells(sized(q, c.table, c.h, c.w));
    const index_t di = centre_offset(c.h), dj = centre_offset(c.w);
    index_t checked = 0;
    for (index_t i = 10; i + c.h + 11 <= M; ++i)
        for (index_t j = 10; j + c.w + 11 <= N; ++j) {
            std::vector<index_t> n(static_cast<std::size_t>(K), 0);
            index_t v = 0;
            for (index_t cc = j; cc < j + c.w; ++cc)
                for (index_t r = i; r < i + c.h; ++r)
                    if (const std::int32_t l = labels[r + M * cc]; l <= K) {
                        ++n[l - 1];
                        ++v;
                    }
            const double score = out[(i + di) + M * (j + dj)];
            if (v < least) {
                ASSERT_TRUE(std::isnan(score)) << "window at " << i << ", " << j;
                continue;
            }
            quad exact = 0, bound = 0;
            if (c.map == map_kind::sulmet) {
                for (index_t k = 0; k < K; ++k) {
                    const quad d = quad(n[k]) / v - c.table[k];
                    exact += d * d;
                }
                exact = 1 - exact / 2;
                bound = ulp(score) / 2 + sulmet_slack;
            } else {
                quad terms = 0;
                for (index_t k = 0; k < K; ++k) {
                    exact += c.table[k] * root(n[k]);
                    terms += magnitude(c.table[k] * root(n[k]));
                }
                exact /= root(v);
                terms /= root(v);
                bound = 5 * terms * std::ldexp(1.0, -53);
            }
            ASSERT_LE(magnitude(score - exact), bound)
                << "window at " << i << ", " << j << ": " << std::hexfloat << score << " for "
                << static_cast<double>(exact);
            ++checked;
        }
    EXPECT_GT(checked, 1000);
}

INSTANTIATE_TEST_SUITE_P(
    AwkwardTables, ExactScores,
    ::testing::Values(score_case{map_kind::sulmet, {0.1, third, 0.2, 0.05, 0.25 - 1e-9, 0.0667}, 3, 4, false},
                      score_case{map_kind::sulmet, {0.1, third, 1e-9, 1e9, -0.7}, 5, 5, true},
                      score_case{map_kind::sulmet, {0.5, 0.5}, 1, 7, false},
                      score_case{map_kind::ombrel, {std::sqrt(0.1), std::sqrt(third), std::sqrt(0.2), 0.0, std::sqrt(0.3)}, 4, 3, false},
                      score_case{map_kind::ombrel, {0.1, third, 1e-9, 1e9, -0.7, -third}, 6, 6, true},
                      score_case{map_kind::ombrel, {1e-300, 1e300, 0.5}, 3, 3, false},
                      score_case{map_kind::ombrel, {1.5e300, 2e299, -7e301, 3e299}, 5, 2, false}),
    [](const auto& named) { return std::string(entry_of(named.param.map).name) + "_" + std::to_string(named.index); });

// A window whose class proportions equal Sulmet's table scores exactly 1,
// far down a large raster where the plug-ins' sums have drifted: every 4
// rows of every column hold the classes 1, 2, 2, 3.
TEST(ExactScores, SulmetGivesOneForTheTableItself)
{
    const index_t M = 400, N = 300;
    const std::vector<double> table{0.25, 0.5, 0.25};
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N));
    const std::int32_t period[] = {1, 2, 2, 3};
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) labels[r + M * c] = period[(r + c) % 4];
    map_request q{map_kind::sulmet};
    q.arithmetic = arithmetic::exact;
    index_t scored = 0;
    for (const index_t w : {1, 5, 21})
        for (const double v : test::run_map(q, table, labels.data(), M, N, 8, w, {2}))
            if (v != 0) {
                ASSERT_EQ(v, 1.0) << "window 8 x " << w;
                ++scored;
            }
    EXPECT_GT(scored, 3 * 90000);
}

} // namespace
} // namespace rw
