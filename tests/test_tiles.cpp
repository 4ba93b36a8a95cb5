// The maps tile by tile: every tiling, random ones with tiles of one row or
// one column and tiles smaller than the window included, gives run_map's
// bits, with and without nodata, whether the runner takes the tiles in order
// or each tile stands alone as a task scheduler's would.
#include "maps/tile_run.hpp"

#include "golden_corpus.hpp"
#include "tile_by_tile.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace rw {
namespace {

std::vector<index_t> random_cuts(index_t size, std::mt19937& gen, int kind)
{
    std::vector<index_t> cuts{0};
    if (kind == 0) { // one cut only, or none
        cuts.push_back(size);
        return cuts;
    }
    std::uniform_int_distribution<index_t> step(1, kind == 1 ? 4 : 40);
    for (index_t at = 0; at < size;) {
        at = std::min(size, at + step(gen));
        cuts.push_back(at);
    }
    return cuts;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

struct tiled_case {
    map_kind map;
    bool nodata;
    nodata_policy policy;
    rw::arithmetic arithmetic = rw::arithmetic::plugin;
    edge_rule edges = edge_rule::margin;
    window_shape shape = window_shape::rectangle; // a circle or annulus as wide as the window
};

class TiledMaps : public ::testing::TestWithParam<tiled_case> {};

TEST_P(TiledMaps, EveryTilingGivesTheSameBitsAsRunMap)
{
    const tiled_case tc = GetParam();
    std::mt19937 gen(42);
    int tried = 0;
    for (const golden::raster_case& rc : golden::rasters) {
        std::vector<std::int32_t> labels = golden::labels_of(rc);
        const std::vector<double> table = golden::table_of(rc);
        if (tc.nodata) // a hole and an edge of nodata (label K + 1)
            for (index_t c = 0; c < rc.N; ++c)
                for (index_t r = 0; r < rc.M; ++r)
                    if ((r > 20 && r < 26 && c > 14 && c < 19) || c >= rc.N - 13)
                        labels[r + rc.M * c] = rc.K + 1;
        for (const golden::window_case& wc : golden::windows) {
            map_request q{tc.map, table.data(), rc.K, wc.h, wc.w};
            q.seed = 1234u + static_cast<unsigned>(tried);
            q.probes_per_cell = tried % 3 == 0 ? 3 : 12;
            q.nodata = tc.nodata;
            q.policy = tc.policy;
            q.min_valid = 0.7;
            q.arithmetic = tc.arithmetic;
            q.edges = tc.edges;
            if (tc.shape != window_shape::rectangle) {
                const double r = std::max(1.5, static_cast<double>(std::min(wc.h, wc.w)) / 2);
                set_footprint(q, {tc.shape, r / 3, r});
            }
            const auto in = column_major<const std::int32_t>(labels.data(), rc.M, rc.N);
            std::vector<double> expected(static_cast<std::size_t>(rc.M * rc.N), 0.0);
            run_map(q, in, row_major(expected.data(), rc.M, rc.N), {1});
            for (int kind = 0; kind < 3; ++kind) {
                const auto rows = random_cuts(rc.M, gen, kind == 0 ? 0 : 1 + (tried + kind) % 2);
                const auto cols = random_cuts(rc.N, gen, kind == 0 ? 0 : 1 + (tried + kind + 1) % 2);
                for (const bool tasks : {false, true}) {
                    std::vector<double> out(expected.size(), 0.0);
                    const auto into = row_major(out.data(), rc.M, rc.N);
                    if (tasks)
                        tiles::task_model::run_tile_by_tile(q, in, into, rows, cols);
                    else
                        run_tiled(q, in, into, rows, cols);
                    EXPECT_TRUE(same_bits(out, expected))
                        << rc.M << " x " << rc.N << ", window " << wc.h << " x " << wc.w << ", "
                        << rows.size() - 1 << " x " << cols.size() - 1 << " tiles"
                        << (tasks ? " standing alone" : " in order");
                }
            }
            ++tried;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllMaps, TiledMaps,
    ::testing::Values(tiled_case{map_kind::varnok, false, nodata_policy::strict},
                      tiled_case{map_kind::marnisa, false, nodata_policy::strict},
                      tiled_case{map_kind::sulmet, false, nodata_policy::strict},
                      tiled_case{map_kind::ombrel, false, nodata_policy::strict},
                      tiled_case{map_kind::dravix, false, nodata_policy::strict},
                      tiled_case{map_kind::varnok, true, nodata_policy::renormalise},
                      tiled_case{map_kind::marnisa, true, nodata_policy::strict},
                      tiled_case{map_kind::sulmet, true, nodata_policy::renormalise},
                      tiled_case{map_kind::ombrel, true, nodata_policy::renormalise},
                      tiled_case{map_kind::dravix, true, nodata_policy::renormalise},
                      tiled_case{map_kind::sulmet, true, nodata_policy::strict},
                      tiled_case{map_kind::varnok, false, nodata_policy::strict, arithmetic::exact},
                      tiled_case{map_kind::marnisa, false, nodata_policy::strict, arithmetic::exact},
                      tiled_case{map_kind::varnok, true, nodata_policy::renormalise, arithmetic::exact},
                      tiled_case{map_kind::marnisa, true, nodata_policy::renormalise, arithmetic::exact},
                      tiled_case{map_kind::sulmet, false, nodata_policy::strict, arithmetic::exact},
                      tiled_case{map_kind::sulmet, true, nodata_policy::renormalise, arithmetic::exact},
                      tiled_case{map_kind::ombrel, false, nodata_policy::strict, arithmetic::exact},
                      tiled_case{map_kind::ombrel, true, nodata_policy::renormalise, arithmetic::exact},
                      tiled_case{map_kind::dravix, true, nodata_policy::renormalise, arithmetic::exact},
                      tiled_case{map_kind::varnok, true, nodata_policy::strict, arithmetic::exact, edge_rule::inside},
                      tiled_case{map_kind::marnisa, false, nodata_policy::strict, arithmetic::plugin, edge_rule::inside},
                      tiled_case{map_kind::sulmet, false, nodata_policy::strict, arithmetic::plugin, edge_rule::inside},
                      tiled_case{map_kind::ombrel, false, nodata_policy::strict, arithmetic::plugin, edge_rule::inside},
                      tiled_case{map_kind::ombrel, true, nodata_policy::renormalise, arithmetic::exact, edge_rule::inside},
                      tiled_case{map_kind::dravix, false, nodata_policy::strict, arithmetic::plugin, edge_rule::inside},
                      tiled_case{map_kind::varnok, true, nodata_policy::renormalise, arithmetic::exact,
                                 edge_rule::inside, window_shape::circle},
                      tiled_case{map_kind::marnisa, false, nodata_policy::strict, arithmetic::exact,
                                 edge_rule::margin, window_shape::annulus},
                      tiled_case{map_kind::sulmet, true, nodata_policy::strict, arithmetic::exact,
                                 edge_rule::inside, window_shape::annulus},
                      tiled_case{map_kind::ombrel, false, nodata_policy::strict, arithmetic::exact,
                                 edge_rule::inside, window_shape::circle},
                      tiled_case{map_kind::dravix, true, nodata_policy::renormalise, arithmetic::exact,
                                 edge_rule::inside, window_shape::circle}));

} // namespace
} // namespace rw
