#include "kernels/crt_rand.hpp"
#include "kernels/sampling.hpp"

#include "generators.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace rw {
namespace {

std::vector<std::int32_t> draws_of(std::uint32_t seed, int count)
{
    crt_rand gen(seed);
    std::vector<std::int32_t> d;
    for (int k = 0; k < count; ++k) d.push_back(gen());
    return d;
}

// Worked out by hand from state = state * 214013 + 2531011 mod 2^32 and
// draw = (state >> 16) & 0x7FFF.
TEST(CrtRand, FirstDrawsOfKnownSeeds)
{
    EXPECT_EQ(draws_of(1, 10), (std::vector<std::int32_t>{41, 18467, 6334, 26500, 19169, 15724,
                                                          11478, 29358, 26962, 24464}));
    EXPECT_EQ(draws_of(0, 5), (std::vector<std::int32_t>{38, 7719, 21238, 2437, 8855}));
    EXPECT_EQ(draws_of(1700000000, 6),
              (std::vector<std::int32_t>{28462, 1027, 22663, 25444, 9533, 1366}));
    EXPECT_EQ(draws_of(4294967295u, 4), (std::vector<std::int32_t>{35, 29739, 3374, 11141}));
}

TEST(CrtRand, DiscardSkipsDraws)
{
    for (std::uint64_t n : {0u, 1u, 2u, 3u, 1000u, 65537u}) {
        crt_rand stepped(99), jumped(99);
        for (std::uint64_t k = 0; k < n; ++k) stepped();
        jumped.discard(n);
        EXPECT_EQ(jumped(), stepped()) << "n = " << n;
    }
    // 2^32 steps bring every state back to itself.
    crt_rand full(2026), same(2026);
    full.discard(std::uint64_t{1} << 32);
    EXPECT_EQ(full(), same());
}

TEST(SamplingThreshold, TruncatesScaledValueAndSaturates)
{
    constexpr std::int32_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t hi = std::numeric_limits<std::int32_t>::max();
    const double inf = std::numeric_limits<double>::infinity();
    struct row { double p; std::int32_t t; };
    const row rows[] = {
        {0.0000306, 1},  {0.00003, 0},      {0.0, 0},         {-0.0, 0},
        {0.5, 16383},    {-0.5, -16383},    {0.9999, 32763},  {1.0, 32767},
        {2.0, 65534},    {65538.0, 2147483646}, {65539.0, hi}, {1e300, hi},
        {inf, hi},       {-65539.0, lo},    {-inf, lo},       {std::nan(""), 0},
    };
    for (const row r : rows) EXPECT_EQ(sampling_threshold(r.p), r.t) << "p = " << r.p;
}

TEST(SamplingThreshold, TableHasOneEntryPerClassInOrder)
{
    const double table[] = {0.5, -1.0, 2.0, 0.0000306};
    EXPECT_EQ(threshold_table(table, 4), (std::vector<std::int32_t>{16383, -32767, 65534, 1}));
    EXPECT_TRUE(threshold_table(nullptr, 0).empty());
}

// Which draws select a cell of threshold t, and that each test of a positive
// threshold takes exactly one draw.
TEST(SamplingTest, DrawEqualToThresholdFails)
{
    struct row { std::int32_t t, draw; bool selected; };
    const row rows[] = {
        {1, 0, true},          {1, 1, false},          {16383, 16382, true}, {16383, 16383, false},
        {32767, 32766, true},  {32767, 32767, false},  {65534, 32767, true},
    };
    for (const row r : rows) {
        test::constant_generator gen{r.draw};
        EXPECT_EQ(sampling_test(r.t, gen), r.selected) << "t = " << r.t << ", draw " << r.draw;
        EXPECT_EQ(gen.draws, 1);
    }
}

TEST(SamplingTest, NonPositiveThresholdTakesNoDraw)
{
    for (std::int32_t t : {0, -1, -16383, std::numeric_limits<std::int32_t>::min()}) {
        test::constant_generator gen{0};
        EXPECT_FALSE(sampling_test(t, gen));
        EXPECT_EQ(gen.draws, 0) << "t = " << t;
    }
}

} // namespace
} // namespace rw
