// The core's entry as every front end sees it: validation as a pure answer,
// the same answer from run_map and stream_map, and streamed rows in order.
#include "maps/dravix.hpp"
#include "maps/ombrel.hpp"
#include "maps/raster_maps.hpp"
#include "stream_fixtures.hpp"

#include "map_checks.hpp"

#include <gtest/gtest.h>

namespace rw {
namespace {

map_request request(map_kind map, const std::vector<double>& table, index_t h, index_t w)
{
    return {map, table.data(), static_cast<index_t>(table.size()), h, w};
}

TEST(Validate, ReportsWhatIsWrongAndWhere)
{
    const index_t M = 40, N = 50;
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N), 1);
    const std::vector<double> table = {0.5, 0.25};
    const label_view view = column_major<const std::int32_t>(labels.data(), M, N);
    EXPECT_EQ(validate(request(map_kind::varnok, table, 0, 3), view)->kind, problem_kind::empty_window);
    map_request negative = request(map_kind::dravix, table, 3, 3);
    negative.probes_per_cell = -4;
    const auto p = validate(negative, view);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->kind, problem_kind::bad_probes_per_cell);
    EXPECT_EQ(p->value, -4);

    labels[7 + M * 3] = 3; // outside Ombrel's block, inside Varnok's and Dravix's
    for (map_kind map : {map_kind::varnok, map_kind::marnisa, map_kind::sulmet, map_kind::dravix}) {
        const auto bad = validate(request(map, table, 3, 3), view);
        ASSERT_TRUE(bad);
        EXPECT_EQ(bad->kind, problem_kind::label_out_of_range);
        EXPECT_EQ(bad->value, 3);
        EXPECT_EQ(bad->row, 7);
        EXPECT_EQ(bad->col, 3);
    }
    EXPECT_FALSE(validate(request(map_kind::ombrel, table, 3, 3), view));
    // Dravix compares labels outside its sampling region without using them.
    labels[7 + M * 3] = 1;
    labels[0] = -9;
    EXPECT_FALSE(validate(request(map_kind::dravix, table, 3, 3), view));
    EXPECT_TRUE(validate(request(map_kind::sulmet, table, 3, 3), view));
}

// A bad label far down the raster is found when its strip arrives, with the
// same facts that validate gives for the whole raster.
TEST(StreamMap, FindsBadLabelsInLaterStrips)
{
    const index_t M = 300, N = 40;
    auto labels = test::random_labels(M, N, 3, 4);
    labels[250 + M * 17] = 4;
    const std::vector<double> table = {0.2, 0.5, 0.3};
    for (map_kind map : {map_kind::varnok, map_kind::sulmet, map_kind::dravix}) {
        const map_request q = request(map, table, 5, 5);
        test::view_source source(column_major<const std::int32_t>(labels.data(), M, N));
        test::view_sink sink;
        try {
            stream_map(q, M, N, source, sink, {2, 16});
            ADD_FAILURE() << "no error";
        } catch (const invalid_request& e) {
            EXPECT_EQ(e.problem.value, 4);
            EXPECT_EQ(e.problem.row, 250);
            EXPECT_EQ(e.problem.col, 17);
        }
        EXPECT_LT(sink.next, M); // the rows after the bad one were never written
        std::vector<double> out(labels.size());
        EXPECT_THROW(run_map(q, column_major<const std::int32_t>(labels.data(), M, N),
                             column_major(out.data(), M, N)),
                     invalid_request);
    }
}

// Dravix reads every row twice, once to count its points; the others once.
TEST(StreamMap, DravixReadsTheRasterTwice)
{
    const index_t M = 90, N = 60;
    const auto labels = test::random_labels(M, N, 3, 5);
    const std::vector<double> table = {0.2, 0.5, 0.3};
    for (const auto& [map, reads] : {std::pair{map_kind::dravix, 2 * M}, {map_kind::ombrel, M}}) {
        test::view_source source(column_major<const std::int32_t>(labels.data(), M, N));
        test::view_sink sink;
        stream_map(request(map, table, 7, 7), M, N, source, sink, {1, 13});
        EXPECT_EQ(source.rows_read, reads);
        EXPECT_EQ(sink.next, M);
    }
}

} // namespace
} // namespace rw
