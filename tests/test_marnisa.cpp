#include "kernels/crt_rand.hpp"
#include "map_checks.hpp"

#include <cmath>

namespace rw {
namespace {

std::vector<double> run_marnisa(const std::vector<double>& table,
                                const std::vector<std::int32_t>& labels, index_t M, index_t N,
                                index_t h, index_t w, std::uint32_t seed)
{
    map_request q{map_kind::marnisa};
    q.seed = seed;
    return test::run_map(q, table, labels.data(), M, N, h, w);
}

std::vector<double> run_varnok(const std::vector<double>& table,
                               const std::vector<std::int32_t>& labels, index_t M, index_t N,
                               index_t h, index_t w)
{
    return test::run_map(map_kind::varnok, table, labels, M, N, h, w);
}

// The sampled value raster as the map defines it: one draw per cell of
// positive threshold, row by row, though the map draws column by column
// from copies of the generator skipped ahead per row. The window means are
// then taken directly, so no order of additions is copied from the map.
std::vector<double> sampled_values(const std::vector<double>& table,
                                   const std::vector<std::int32_t>& labels, index_t M, index_t N,
                                   std::uint32_t seed)
{
    crt_rand gen(seed);
    std::vector<double> v(labels.size(), 0.0);
    for (index_t r = 0; r < M; ++r)
        for (index_t c = 0; c < N; ++c) {
            const double p = table[labels[r + M * c] - 1];
            const double t = std::trunc(32767.0 * p);
            if (t >= 1 && gen() < t) v[r + M * c] = p;
        }
    return v;
}

TEST(Marnisa, MatchesDirectMeanOfCellsSampledInRowOrder)
{
    struct shape { index_t M, N, h, w; };
    const shape shapes[] = {{40, 50, 3, 3}, {47, 33, 4, 6}, {64, 41, 7, 2}, {31, 31, 1, 1}};
    unsigned seed = 11;
    for (const shape s : shapes) {
        SCOPED_TRACE(testing::Message() << s.M << "x" << s.N << " window " << s.h << "x" << s.w);
        std::vector<double> table = test::random_table(6, seed);
        for (double& p : table) p = p / 3.0; // about -0.7 .. 1.7: never, sometimes, always
        const std::vector<std::int32_t> labels = test::random_labels(s.M, s.N, 6, seed);
        const std::vector<double> v = sampled_values(table, labels, s.M, s.N, seed);
        const std::vector<double> out = run_marnisa(table, labels, s.M, s.N, s.h, s.w, seed);
        test::expect_scored_map(out, s.M, s.N, s.h, s.w, [&](index_t i, index_t j) {
            double sum = 0;
            for (index_t c = j; c < j + s.w; ++c)
                for (index_t r = i; r < i + s.h; ++r) sum += v[r + s.M * c];
            return sum / static_cast<double>(s.h * s.w);
        }, 1e-12);
        ++seed;
    }
}

TEST(Marnisa, EveryCellSelectedEqualsVarnok)
{
    const index_t M = 45, N = 52, h = 5, w = 8;
    const std::vector<std::int32_t> labels = test::random_labels(M, N, 4, 5);
    const std::vector<double> all_two = {2.0, 2.0, 2.0, 2.0};
    EXPECT_EQ(run_marnisa(all_two, labels, M, N, h, w, 77),
              run_varnok(all_two, labels, M, N, h, w));
}

// Classes that can never be selected take no draws, so under one seed they
// act exactly as a class value of 0, whatever lies between the other cells.
TEST(Marnisa, UnselectableClassesActAsZero)
{
    const index_t M = 50, N = 44, h = 6, w = 5;
    const std::vector<std::int32_t> labels = test::random_labels(M, N, 5, 8);
    const std::vector<double> odd = {0.6, -0.5, 0.00003, std::nan(""), 0.9};
    const std::vector<double> zeroed = {0.6, 0.0, 0.0, 0.0, 0.9};
    EXPECT_EQ(run_marnisa(odd, labels, M, N, h, w, 1234),
              run_marnisa(zeroed, labels, M, N, h, w, 1234));
    for (double v : run_marnisa({-1.0, 0.0, 0.00003, -0.0, -1e300}, labels, M, N, h, w, 9))
        ASSERT_EQ(v, 0.0);
}

} // namespace
} // namespace rw
