// Requests a careless or hostile caller may make: empty or non-finite class
// tables, windows of any size up to 2^63 - 1 on tiny rasters, huge class
// counts, and runs stopped from outside. Each must be refused by validation
// or give the right map, on every path.
#include "maps/raster_maps.hpp"
#include "stream_fixtures.hpp"

#include "map_checks.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace rw {
namespace {

constexpr map_kind every_map[] = {map_kind::varnok, map_kind::marnisa, map_kind::sulmet,
                                  map_kind::ombrel, map_kind::dravix};
constexpr index_t most = std::numeric_limits<index_t>::max();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

map_request request(map_kind map, const std::vector<double>& table, index_t h, index_t w)
{
    map_request q{map, table.data(), static_cast<index_t>(table.size()), h, w};
    q.seed = 77;
    return q;
}

// The map in memory (threads 1 and 2) and streamed in strips of 3 rows;
// all three must agree bit for bit, and the first is returned.
std::vector<double> run_every_path(const map_request& q, const std::vector<std::int32_t>& labels,
                                   index_t M, index_t N)
{
    std::vector<std::vector<double>> outs;
    for (const int threads : {1, 2}) {
        outs.emplace_back(labels.size(), 0.0);
        run_map(q, column_major(labels.data(), M, N), column_major(outs.back().data(), M, N),
                {threads, 0});
    }
    outs.emplace_back(labels.size(), 0.0);
    test::view_source source(column_major<const std::int32_t>(labels.data(), M, N));
    test::view_sink sink(column_major(outs.back().data(), M, N));
    stream_map(q, M, N, source, sink, {2, 3});
    for (std::size_t k = 1; k < outs.size(); ++k)
        EXPECT_EQ(std::memcmp(outs[0].data(), outs[k].data(), labels.size() * sizeof(double)), 0)
            << "path " << k << " differs";
    return outs[0];
}

TEST(HostileTables, EmptyTableIsRefusedBeforeAnyLabel)
{
    const std::vector<std::int32_t> labels(40 * 40, 1);
    const std::vector<double> none;
    for (const map_kind map : every_map) {
        const auto p = validate(request(map, none, 3, 3), column_major(labels.data(), 40, 40));
        ASSERT_TRUE(p);
        EXPECT_EQ(p->kind, problem_kind::empty_table);
    }
}

// Varnok, Sulmet and Ombrel compute with every class value; Marnisa only
// with those it selects (NaN and -Inf never are); Dravix only compares them
// with its sampling scale. The first bad class is named by its label.
TEST(HostileTables, NonFiniteClassValuesAreRefusedWhereTheMapComputesWithThem)
{
    const std::vector<std::int32_t> labels(40 * 40, 1);
    const auto view = column_major(labels.data(), 40, 40);
    struct rule { map_kind map; bool nan_ok, minus_inf_ok, inf_ok; };
    for (const rule r : {rule{map_kind::varnok, false, false, false},
                         rule{map_kind::sulmet, false, false, false},
                         rule{map_kind::ombrel, false, false, false},
                         rule{map_kind::marnisa, true, true, false},
                         rule{map_kind::dravix, true, true, true}}) {
        for (const auto& [bad, ok] : {std::pair{nan, r.nan_ok}, {-inf, r.minus_inf_ok}, {inf, r.inf_ok}}) {
            SCOPED_TRACE(testing::Message() << "map " << static_cast<int>(r.map) << ", value " << bad);
            // Class 3 never occurs in the raster: it is refused all the same.
            const std::vector<double> table = {0.5, 1e300, bad, 0.25, bad};
            const auto p = validate(request(r.map, table, 3, 3), view);
            if (ok) {
                EXPECT_FALSE(p);
                continue;
            }
            ASSERT_TRUE(p);
            EXPECT_EQ(p->kind, problem_kind::non_finite_class_value);
            EXPECT_EQ(p->value, 3);
            std::vector<double> out(labels.size());
            EXPECT_THROW(run_map(request(r.map, table, 3, 3), view, column_major(out.data(), 40, 40)),
                         invalid_request);
        }
    }
}

// A class that may never be selected leaves Marnisa's map as a class of
// value 0 does, whatever it holds.
TEST(HostileTables, MarnisaNeverSelectsNaNOrMinusInfinity)
{
    const index_t M = 50, N = 45;
    const auto labels = test::random_labels(M, N, 3, 12);
    const auto zero = run_every_path(request(map_kind::marnisa, {0.0, 0.6, 0.0}, 5, 4), labels, M, N);
    const auto odd = run_every_path(request(map_kind::marnisa, {nan, 0.6, -inf}, 5, 4), labels, M, N);
    EXPECT_EQ(std::memcmp(zero.data(), odd.data(), zero.size() * sizeof(double)), 0);
}

// Windows of up to 2^63 - 1 rows or columns on rasters too small for them:
// nothing wraps, nothing is read out of bounds, the map is all 0.
TEST(HostileSizes, HugeWindowsOnTinyRastersGiveZeroMaps)
{
    const std::vector<double> table = {0.5, 0.9};
    const index_t sides[][2] = {{most, 1},        {1, most},          {most, most},
                                {index_t{1} << 62, 3}, {3, index_t{1} << 62}, {index_t{1} << 40, index_t{1} << 40},
                                {9, 1},           {41, 41}};
    for (const auto& [M, N] : {std::pair<index_t, index_t>{8, 8}, {1, 1}, {40, 40}, {3, 60}}) {
        const auto labels = test::random_labels(M, N, 2, 3);
        for (const map_kind map : every_map)
            for (const auto& s : sides) {
                if (s[0] < M - 20 && s[1] < N - 20) continue; // fits: not this test's case
                SCOPED_TRACE(testing::Message() << "map " << static_cast<int>(map) << ", "
                                                << M << " x " << N << ", window " << s[0] << " x " << s[1]);
                map_request q = request(map, table, s[0], s[1]);
                q.probes_per_cell = std::numeric_limits<std::int32_t>::max();
                const auto out = run_every_path(q, labels, M, N);
                for (const double v : out) ASSERT_EQ(v, 0.0);
            }
    }
}

// Sulmet's exact square sums bound its windows; the bound needs no raster
// to check, and applies only where a window is scored.
TEST(HostileSizes, SulmetRefusesWindowsWhoseSquaredAreaOverflows)
{
    const std::vector<double> table = {1.0};
    const index_t side = 55109; // 55109^2 = 3037001881 cells
    const map_request q = request(map_kind::sulmet, table, side, side);
    const auto p = check_request(q, side + 21, side + 21);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->kind, problem_kind::window_too_large);
    EXPECT_EQ(p->value, side * side);
    EXPECT_FALSE(check_request(q, side + 20, side + 21)); // no window scored
    EXPECT_FALSE(check_request(request(map_kind::sulmet, table, 55108, 55108), most, most));
    EXPECT_FALSE(check_request(request(map_kind::ombrel, table, side, side), side + 21, side + 21));
}

// Tables far larger than the window: classes no window holds cost nothing
// per row, and change no bit. Ombrel's extra classes, absent from every
// window, add zeros to its direct sums; Sulmet's, of value 0, add zeros to
// the table's square sum.
TEST(HostileTables, HugeClassCountsChangeNoBit)
{
    const index_t M = 70, N = 64, h = 5, w = 6;
    const auto labels = test::random_labels(M, N, 4, 21);
    const std::vector<double> small = {0.1, -0.4, 0.35, 0.8};
    std::vector<double> ombrel_table = small, sulmet_table = small;
    ombrel_table.resize(300000, 0.0);
    sulmet_table.resize(300000, 0.0);
    for (std::size_t k = small.size(); k < ombrel_table.size(); ++k) ombrel_table[k] = 1.0 + k % 7;
    for (const auto& [map, big] : {std::pair{map_kind::ombrel, &ombrel_table}, {map_kind::sulmet, &sulmet_table}}) {
        const auto want = run_every_path(request(map, small, h, w), labels, M, N);
        const auto got = run_every_path(request(map, *big, h, w), labels, M, N);
        EXPECT_EQ(std::memcmp(want.data(), got.data(), want.size() * sizeof(double)), 0);
    }
}

// Labels spread over 200000 classes, so that every window holds classes
// unseen by its neighbours and histograms are reused across rows, strips
// and threads: every score still matches a direct count.
TEST(HostileTables, HugeClassCountsMatchDirectCounts)
{
    const index_t M = 60, N = 55, h = 7, w = 4, K = 200000;
    auto labels = test::random_labels(M, N, 9, 8);
    for (std::size_t c = 0; c < labels.size(); c += 3) labels[c] = static_cast<std::int32_t>(K - c);
    std::vector<double> table(static_cast<std::size_t>(K), 0.0);
    for (index_t k = 0; k < K; ++k) table[k] = 1.0 / static_cast<double>(1 + k % 13);
    const auto ombrel = run_every_path(request(map_kind::ombrel, table, h, w), labels, M, N);
    const auto sulmet = run_every_path(request(map_kind::sulmet, table, h, w), labels, M, N);
    double table_squares = 0.0;
    for (const double t : table) table_squares += t * t;
    const double area = static_cast<double>(h * w);
    test::expect_scored_map(ombrel, M, N, h, w, [&](index_t i, index_t j) {
        double sum = 0.0;
        for (index_t c = j; c < j + w; ++c)
            for (index_t r = i; r < i + h; ++r) {
                // Each cell adds its class's share; sum over cells of
                // t / n_k * sqrt(n_k / area) is t * sqrt(n_k / area) per class.
                const std::int32_t l = labels[r + M * c];
                index_t n = 0;
                for (index_t cc = j; cc < j + w; ++cc)
                    for (index_t rr = i; rr < i + h; ++rr) n += labels[rr + M * cc] == l;
                sum += table[l - 1] / static_cast<double>(n) * std::sqrt(static_cast<double>(n) / area);
            }
        return sum;
    }, 1e-12);
    test::expect_scored_map(sulmet, M, N, h, w, [&](index_t i, index_t j) {
        // sum (q_k - p_k)^2 = sum over present classes of (q_k^2 - 2 q_k p_k) + sum p_k^2.
        double bracket = table_squares;
        std::vector<std::int32_t> seen;
        for (index_t c = j; c < j + w; ++c)
            for (index_t r = i; r < i + h; ++r) {
                const std::int32_t l = labels[r + M * c];
                if (std::find(seen.begin(), seen.end(), l) != seen.end()) continue;
                seen.push_back(l);
                index_t n = 0;
                for (index_t cc = j; cc < j + w; ++cc)
                    for (index_t rr = i; rr < i + h; ++rr) n += labels[rr + M * cc] == l;
                const double q = static_cast<double>(n) / area;
                bracket += q * q - 2.0 * q * table[l - 1];
            }
        return 1.0 - 0.5 * bracket;
    }, 1e-12);
}

// A run asked to stop throws interrupted, on every map and path; one that
// is never asked runs to the end.
TEST(Interruption, StopRequestEndsEveryMap)
{
    const index_t M = 120, N = 90;
    const auto labels = test::random_labels(M, N, 3, 2);
    const std::vector<double> table = {0.3, 0.6, 0.9};
    for (const map_kind map : every_map)
        for (const int threads : {1, 2}) {
            SCOPED_TRACE(testing::Message() << "map " << static_cast<int>(map) << ", threads " << threads);
            const map_request q = request(map, table, 9, 9);
            std::vector<double> out(labels.size(), 0.0);
            run_options stop{threads, 16, [] { return true; }};
            EXPECT_THROW(run_map(q, column_major(labels.data(), M, N), column_major(out.data(), M, N), stop),
                         interrupted);
            test::view_source source(column_major<const std::int32_t>(labels.data(), M, N));
            test::view_sink sink(column_major(out.data(), M, N));
            EXPECT_THROW(stream_map(q, M, N, source, sink, stop), interrupted);
            int asked = 0;
            run_options never{threads, 16, [&] { return ++asked < 0; }};
            EXPECT_NO_THROW(run_map(q, column_major(labels.data(), M, N), column_major(out.data(), M, N), never));
            EXPECT_GT(asked, 0);
        }
}

// Dravix with 10^8 probes per cell would probe for minutes; a request to
// stop made once it is thinning ends it at once.
TEST(Interruption, StopsDravixInTheMiddleOfAHugeProbeCount)
{
    const index_t M = 40, N = 40;
    const auto labels = test::random_labels(M, N, 2, 5);
    const std::vector<double> table = {0.7, 0.7};
    map_request q = request(map_kind::dravix, table, 5, 5);
    q.probes_per_cell = 100'000'000;
    for (const int threads : {1, 2}) {
        int asked = 0;
        std::vector<double> out(labels.size(), 0.0);
        // Counting points asks a few times; thinning asks again and again.
        run_options options{threads, 0, [&] { return ++asked > 20; }};
        EXPECT_THROW(run_map(q, column_major(labels.data(), M, N), column_major(out.data(), M, N), options),
                     interrupted);
    }
}

} // namespace
} // namespace rw
