// Maps over rasters with nodata cells (label K + 1): a window without
// nodata gets exactly the bits of the same map over the raster recoded with
// one more class of value 0, under both policies; a window with nodata gets
// NaN (strict) or its score over the valid cells only (renormalise), checked
// against a direct per-window computation.
#include "maps/raster_maps.hpp"
#include "stream_fixtures.hpp"

#include "map_checks.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace rw {
namespace {

constexpr index_t M = 64, N = 71, K = 4;

// Random labels 1..K with nodata (K + 1) in a hole and along the left edge.
std::vector<std::int32_t> labels_with_nodata()
{
    auto labels = test::random_labels(M, N, static_cast<int>(K), 31);
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) {
            const bool hole = r >= 30 && r < 36 && c >= 33 && c < 37;
            const bool edge = c < 14;
            if (hole || edge || (r == 45 && c == 50)) labels[r + M * c] = K + 1;
        }
    return labels;
}

const std::vector<double> table = {0.1, 0.45, 0.3, 0.15};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The score of window (i, j) over its valid cells, computed directly.
double direct_score(map_kind map, const std::vector<std::int32_t>& labels, index_t i, index_t j,
                    index_t h, index_t w)
{
    const auto n = test::window_counts(labels, K + 1, M, i, j, h, w);
    const double v = static_cast<double>(h * w - n[K]);
    double s = 0.0;
    for (index_t k = 0; k < K; ++k) {
        const double q = static_cast<double>(n[k]) / v;
        switch (map) {
        case map_kind::sulmet: s += (q - table[k]) * (q - table[k]); break;
        case map_kind::ombrel: s += table[k] * std::sqrt(q); break;
        default: s += table[k] * q; break;
        }
    }
    return map == map_kind::sulmet ? 1.0 - 0.5 * s : s;
}

struct run_result {
    std::vector<double> out;
    std::vector<double> plain; // the map over the raster with a class of value 0
};

run_result run_both(map_kind map, nodata_policy policy, double min_valid, index_t h, index_t w,
                    const std::vector<std::int32_t>& labels)
{
    map_request q{map, table.data(), K, h, w};
    q.seed = 99;
    q.probes_per_cell = 5;
    q.nodata = true;
    q.policy = policy;
    q.min_valid = min_valid;
    run_result r{std::vector<double>(labels.size()), std::vector<double>(labels.size())};
    run_map(q, column_major<const std::int32_t>(labels.data(), M, N), column_major(r.out.data(), M, N));
    std::vector<double> extended = table;
    extended.push_back(0.0);
    map_request plain = q;
    plain.nodata = false;
    plain.table = extended.data();
    plain.K = K + 1;
    run_map(plain, column_major<const std::int32_t>(labels.data(), M, N),
            column_major(r.plain.data(), M, N));
    return r;
}

TEST(Nodata, WindowsWithoutNodataKeepTheirBitsAndOthersFollowThePolicy)
{
    const auto labels = labels_with_nodata();
    const index_t h = 7, w = 5;
    for (map_kind map : {map_kind::varnok, map_kind::marnisa, map_kind::sulmet, map_kind::ombrel,
                         map_kind::dravix})
        for (nodata_policy policy : {nodata_policy::strict, nodata_policy::renormalise}) {
            SCOPED_TRACE(static_cast<int>(map) * 10 + static_cast<int>(policy));
            const auto r = run_both(map, policy, 0.6, h, w, labels);
            const index_t least = static_cast<index_t>(std::ceil(0.6 * h * w));
            const scored_positions p = scored_positions_of(M, N, h, w);
            index_t full = 0, renormalised = 0, dropped = 0;
            for (index_t i = p.i0; i < p.i_end; ++i)
                for (index_t j = p.j0; j < p.j_end; ++j) {
                    const index_t at = (i + h / 2) + M * (j + w / 2);
                    const index_t v = h * w - test::window_counts(labels, K + 1, M, i, j, h, w)[K];
                    const double got = r.out[at];
                    if (v == h * w) {
                        ++full;
                        ASSERT_TRUE(same_bits(got, r.plain[at])) << i << ", " << j;
                    } else if (policy == nodata_policy::strict || v < least) {
                        ++dropped;
                        ASSERT_TRUE(std::isnan(got)) << i << ", " << j;
                    } else {
                        ++renormalised;
                        // The random maps: the same draws, so the window's sum
                        // is the plain map's mean times h * w, over v instead.
                        const double want = map == map_kind::marnisa || map == map_kind::dravix
                                                ? r.plain[at] * static_cast<double>(h * w) / static_cast<double>(v)
                                                : direct_score(map, labels, i, j, h, w);
                        ASSERT_NEAR(got, want, 1e-12) << i << ", " << j << " v " << v;
                    }
                }
            EXPECT_GT(full, 100);
            EXPECT_GT(dropped, 10);
            if (policy == nodata_policy::renormalise) {
                EXPECT_GT(renormalised, 100);
            }
            // Unscored cells stay 0.
            for (index_t c = 0; c < N; ++c) EXPECT_EQ(r.out[0 + M * c], 0.0);
        }
}

// Ombrel also scores its first column where the common geometry has none.
TEST(Nodata, OmbrelNarrowRasterFollowsThePolicy)
{
    const index_t n = 20, h = 3, w = 6; // N = w + 14 < w + 21
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * n), 2);
    labels[20 + M * 12] = K + 1;
    map_request q{map_kind::ombrel, table.data(), K, h, w};
    q.nodata = true;
    std::vector<double> out(labels.size());
    run_map(q, column_major<const std::int32_t>(labels.data(), M, n), column_major(out.data(), M, n));
    const index_t col = 10 + w / 2;
    for (index_t r = 10 + h / 2; r < M - h - 10 + h / 2; ++r) {
        const bool holds = r - h / 2 <= 20 && 20 < r - h / 2 + h;
        if (holds) {
            EXPECT_TRUE(std::isnan(out[r + M * col])) << r;
        } else {
            EXPECT_DOUBLE_EQ(out[r + M * col], table[1]) << r;
        }
    }
}

// The renormalised mean of a window is over its valid cells; min_valid 0
// still needs one valid cell.
TEST(Nodata, RenormalisedVarnokOnAHalfEmptyRaster)
{
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N), 3);
    for (index_t c = 35; c < N; ++c)
        for (index_t r = 0; r < M; ++r) labels[r + M * c] = K + 1;
    map_request q{map_kind::varnok, table.data(), K, 3, 9};
    q.nodata = true;
    q.policy = nodata_policy::renormalise;
    q.min_valid = 0.0;
    std::vector<double> out(labels.size());
    run_map(q, column_major<const std::int32_t>(labels.data(), M, N), column_major(out.data(), M, N));
    const index_t r = 20;
    for (index_t j = 10; j < N - 9 - 10; ++j) {
        const double got = out[r + M * (j + 4)];
        if (j >= 35) {
            EXPECT_TRUE(std::isnan(got)) << j; // no valid cell
        } else {
            EXPECT_NEAR(got, table[2], 1e-13) << j; // 0.3 v / v, up to the table sums
        }
    }
}

// Dravix with no point at all: 0 where the window is valid, NaN elsewhere.
TEST(Nodata, DravixWithoutPointsStillMarksNodataWindows)
{
    const auto labels = labels_with_nodata();
    const std::vector<double> none(K, 0.0);
    map_request q{map_kind::dravix, none.data(), K, 5, 5};
    q.nodata = true;
    std::vector<double> out(labels.size());
    run_map(q, column_major<const std::int32_t>(labels.data(), M, N), column_major(out.data(), M, N));
    const scored_positions p = scored_positions_of(M, N, 5, 5);
    for (index_t i = p.i0; i < p.i_end; ++i)
        for (index_t j = p.j0; j < p.j_end; ++j) {
            const double got = out[(i + 2) + M * (j + 2)];
            const bool full = test::window_counts(labels, K + 1, M, i, j, 5, 5)[K] == 0;
            ASSERT_TRUE(full ? got == 0.0 : std::isnan(got)) << i << ", " << j;
        }
}

// Streaming row-major strips of any height on any threads gives the bits of
// the column-major run in memory.
TEST(Nodata, StreamedRowMajorEqualsColumnMajorInMemory)
{
    const auto labels = labels_with_nodata();
    std::vector<std::int32_t> rows(labels.size());
    for (index_t r = 0; r < M; ++r)
        for (index_t c = 0; c < N; ++c) rows[r * N + c] = labels[r + M * c];
    for (map_kind map : {map_kind::varnok, map_kind::marnisa, map_kind::sulmet, map_kind::ombrel,
                         map_kind::dravix}) {
        map_request q{map, table.data(), K, 9, 6};
        q.seed = 5;
        q.nodata = true;
        q.policy = nodata_policy::renormalise;
        std::vector<double> want(labels.size());
        run_map(q, column_major<const std::int32_t>(labels.data(), M, N), column_major(want.data(), M, N));
        for (const run_options& options : {run_options{1, 1}, run_options{2, 7}, run_options{3, 200}}) {
            std::vector<double> got(labels.size());
            test::view_source source(row_major<const std::int32_t>(rows.data(), M, N));
            test::view_sink sink(row_major(got.data(), M, N));
            stream_map(q, M, N, source, sink, options);
            for (index_t r = 0; r < M; ++r)
                for (index_t c = 0; c < N; ++c)
                    ASSERT_TRUE(same_bits(got[r * N + c], want[r + M * c]))
                        << static_cast<int>(map) << " at " << r << ", " << c;
        }
    }
}

TEST(Nodata, RequestChecks)
{
    const std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N), K + 1);
    const label_view view = column_major<const std::int32_t>(labels.data(), M, N);
    map_request q{map_kind::varnok, table.data(), K, 3, 3};
    EXPECT_EQ(validate(q, view)->kind, problem_kind::label_out_of_range);
    q.nodata = true;
    EXPECT_FALSE(validate(q, view));
    q.policy = nodata_policy::renormalise;
    for (double bad : {-0.1, 1.5, std::nan("")}) {
        q.min_valid = bad;
        EXPECT_EQ(check_request(q)->kind, problem_kind::bad_min_valid);
    }
    q.min_valid = 0.0;
    EXPECT_EQ(least_valid_cells(q), 1);
    q.min_valid = 0.5;
    EXPECT_EQ(least_valid_cells(q), 5);
    q.policy = nodata_policy::strict;
    EXPECT_EQ(least_valid_cells(q), 9);
    q.h = q.w = 46341;
    EXPECT_EQ(check_request(q)->kind, problem_kind::window_too_large);
}

TEST(ScoredCells, MatchTheCellsTheMapsWrite)
{
    const auto labels = test::random_labels(M, N, static_cast<int>(K), 8);
    for (map_kind map : {map_kind::varnok, map_kind::ombrel})
        for (const index_t n : {N, index_t{27}}) {
            const map_request q{map, table.data(), K, 4, 7};
            std::vector<double> out(static_cast<std::size_t>(M * n), 0.0);
            const auto view = column_major(out.data(), M, n);
            run_map(q, column_major<const std::int32_t>(labels.data(), M, n), view);
            const cell_block s = scored_cells(q, M, n);
            fill_unscored(q, M, n, view, -1.0);
            for (index_t c = 0; c < n; ++c)
                for (index_t r = 0; r < M; ++r) {
                    const bool in = r >= s.r0 && r < s.r1 && c >= s.c0 && c < s.c1;
                    ASSERT_EQ(out[r + M * c] != -1.0, in) << r << ", " << c;
                    if (in) {
                        ASSERT_NE(out[r + M * c], 0.0);
                    }
                }
            // The narrow raster has no scored cell but for Ombrel's column.
            if (n == 27) {
                EXPECT_EQ(s.empty(), map != map_kind::ombrel);
            }
        }
}

} // namespace
} // namespace rw
