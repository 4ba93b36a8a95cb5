// The golden corpus on every path through the core: column-major and
// row-major views, 1, 2, 3 and 7 threads, strips of 1, 7 and h + 1 rows and
// a few hundred, in memory and streamed. Every output must hash to the value
// recorded for it.
#include "golden_corpus.hpp"
#include "maps/raster_maps.hpp"
#include "stream_fixtures.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace rw {
namespace {

struct golden_row {
    struct { int M, N, h, w; } size;
    std::uint64_t hash[6]; // Varnok, Marnisa, Sulmet, Ombrel, Dravix (12 probes), Dravix (3)
};

const golden_row golden_rows[] = {
    {{61, 47, 5, 7}, {0xe6f682778d09d30dull, 0xcfade70b2b4c304cull, 0x21edfa1bb0c39420ull, 0x208b7c904d44cc05ull, 0x3a73eda4cc02c94eull, 0xdff313a314c34f57ull}},
    {{61, 47, 21, 21}, {0x6db762122767c4e2ull, 0x14e3477fb981b04eull, 0x864b81a911d90d5eull, 0xab0af65d0ca95f28ull, 0x17509dbe14eae9d9ull, 0x50321c3c6fa28771ull}},
    {{61, 47, 1, 1}, {0xa79a02c72ee4e7d3ull, 0x21b866e352f9c6dfull, 0x67a2494675ebd659ull, 0x4a8e24ac2f915c29ull, 0x73705b0b62fa921aull, 0x8350a92d884d4103ull}},
    {{61, 47, 4, 9}, {0x27aec1035d68a718ull, 0x76ad9d7a7bfccf9dull, 0xa96cd93e92ebb97bull, 0x7b4d352784af3c15ull, 0x6ab93592a8196eb7ull, 0xb4821801d99b2ab2ull}},
    {{61, 47, 12, 3}, {0xc2df128d08659fadull, 0xd2683fb09edade68ull, 0x5084453960ad2578ull, 0x2b1c2b7b2423e49bull, 0x3e8f469409a0e0d1ull, 0x98c9dff7b63b19d4ull}},
    {{90, 120, 5, 7}, {0x9354822ad7725337ull, 0x0b0184216dda9ed8ull, 0x81c3c502b991d154ull, 0x7846dd3abf926687ull, 0x7d5183dfa12a4c0bull, 0x7c6d0963f8e5f95bull}},
    {{90, 120, 21, 21}, {0x340ea7c82e365805ull, 0x32fe1cdc46b33c74ull, 0xac40ac83de3019b0ull, 0x4ac271d478760a54ull, 0xcefb6bc5b018454cull, 0xb02f3e718ddf2760ull}},
    {{90, 120, 1, 1}, {0x0c596f2611da2711ull, 0xbe58791b5ab7497eull, 0x8b39e3a02506dfafull, 0x634d08feb135a998ull, 0xb7dd825165c409baull, 0xce1464e9c92de21aull}},
    {{90, 120, 4, 9}, {0xd867faf95631e065ull, 0xa046d711b5ceb998ull, 0x81f65c84620faa91ull, 0x971126085e427321ull, 0x9c6e79ea3f306ca5ull, 0x6bea27cef6a2b8b7ull}},
    {{90, 120, 12, 3}, {0x34454a03fc994f79ull, 0x12e749bdba9f3308ull, 0x37a635acfec5a8b0ull, 0x06d74b7023454161ull, 0xb8dc667452635583ull, 0x020252e999c893f9ull}},
    {{40, 300, 5, 7}, {0x99b23502c5d5ee1aull, 0xeda9a6e7542113e3ull, 0x40086079e9e415d5ull, 0xe2d916b6c8d9f40full, 0x99d21a52faabfa38ull, 0x7e71d20d7920072full}},
    {{40, 300, 21, 21}, {0x266b3312cb1d9783ull, 0x266b3312cb1d9783ull, 0x266b3312cb1d9783ull, 0x266b3312cb1d9783ull, 0x266b3312cb1d9783ull, 0x266b3312cb1d9783ull}},
    {{40, 300, 1, 1}, {0xbae25e4547bccaebull, 0xfda2ee23c31bdb95ull, 0x87d8ce26735624caull, 0x4e72e718cb480156ull, 0x71ce1ff4a852a8e3ull, 0x7bd2790e282bf383ull}},
    {{40, 300, 4, 9}, {0x065c1998f04534d0ull, 0x4053ef50c0a2e01bull, 0x8d5e1db9fe21c1a8ull, 0x0e2b0e6f563b271full, 0xa9d9c6eead282592ull, 0xc82ea6d2095eec95ull}},
    {{40, 300, 12, 3}, {0xbad3f77cf3e73ab5ull, 0x9d4083fb51b9466dull, 0x9a6b9fc83aab4b82ull, 0xd7d4f6f1a7ec583aull, 0x34d7d882e1bd1a6bull, 0x86da3d7c3566136cull}},
    {{300, 64, 5, 7}, {0x736192e80b92a23dull, 0x8c54ad1c084964e4ull, 0x8f7a71dae6c06297ull, 0x1fcdec56d5aa8ea9ull, 0xded05f7bcf247827ull, 0x7a110ad701a32256ull}},
    {{300, 64, 21, 21}, {0xdc025b67c4dcad8bull, 0x9bc8e141ddd039a1ull, 0xf5457c76731a84daull, 0xda187757d08e5ec5ull, 0x8f5937802d313c88ull, 0x34f8acebc56af8b9ull}},
    {{300, 64, 1, 1}, {0x12bcf99c7edb6c24ull, 0xc8165a85a5c88944ull, 0x33d34fa3749fc68aull, 0x9eb810c3437b7c1aull, 0x629f6d99488dd3faull, 0x0b9bdb2586f1b65aull}},
    {{300, 64, 4, 9}, {0x8e96e02c072bca59ull, 0x60a243ea7cd05bbbull, 0x051b978aa644ef23ull, 0x8a413bd7b79db352ull, 0x219cc31da77f4df3ull, 0x9dd26a52b9ba15fcull}},
    {{300, 64, 12, 3}, {0x3000d7eb47194041ull, 0x3c3266459c52f384ull, 0x901c3ef675a62ccdull, 0xcdf413c08a4b8f26ull, 0x4947141d9f1276f1ull, 0xf61176e1005f5c19ull}},
    {{70, 28, 5, 7}, {0xad8b5d19857b81d6ull, 0xaaaac425764207b5ull, 0x1fe6690621d781acull, 0xafcf2f694b7e3a4aull, 0x61be86cb03f915efull, 0x8b6f874382a20703ull}},
    {{70, 28, 21, 21}, {0xfdbcae1915daa283ull, 0xfdbcae1915daa283ull, 0xfdbcae1915daa283ull, 0xfdbcae1915daa283ull, 0xfdbcae1915daa283ull, 0xfdbcae1915daa283ull}},
    {{70, 28, 1, 1}, {0x369b9781800a98eaull, 0x8ad53e4fd7b07c86ull, 0xe7b97d6547dd34c3ull, 0x57ecbc5f243fe0e0ull, 0x4ef445e05bf9dca3ull, 0xc30c7603b880fd7aull}},
    {{70, 28, 4, 9}, {0xfdbcae1915daa283ull, 0xfdbcae1915daa283ull, 0xfdbcae1915daa283ull, 0x20bd03bec82bf375ull, 0xfdbcae1915daa283ull, 0xfdbcae1915daa283ull}},
    {{70, 28, 12, 3}, {0x9d5b9cd3acb09003ull, 0x3eba79b5c5234f6bull, 0xd3e42d1a6cfd78d1ull, 0x9b5d2cc0858ce24dull, 0x2c3bd9370f82a410ull, 0x30e1663504948de8ull}},
};

// The six maps of a row, with the seeds and probe counts of their hashes.
map_request request_of(int k, const std::vector<double>& table, index_t h, index_t w)
{
    static const map_kind kinds[] = {map_kind::varnok, map_kind::marnisa, map_kind::sulmet,
                                     map_kind::ombrel, map_kind::dravix,  map_kind::dravix};
    map_request q{kinds[k], table.data(), static_cast<index_t>(table.size()), h, w};
    q.seed = k == 1 ? 12345u : k == 4 ? 777u : 778u;
    q.probes_per_cell = k == 5 ? 3 : 12;
    return q;
}

struct path {
    const char* name;
    bool row_major, streamed;
    int threads;
    index_t strip_rows; // 0: default; -1: h + 1
};

const path paths[] = {
    {"column-major", false, false, 1, 0},   {"row-major", true, false, 1, 0},
    {"2 threads", false, false, 2, 0},      {"3 threads", true, false, 3, 0},
    {"7 threads", false, false, 7, 0},      {"strips of 1", false, false, 1, 1},
    {"strips of 7", true, false, 2, 7},     {"strips of h+1", false, false, 3, -1},
    {"strips of 300", true, false, 1, 300}, {"streamed, 1", false, true, 1, 1},
    {"streamed, 7", false, true, 2, 7},     {"streamed, h+1", false, true, 1, -1},
    {"streamed, 300", false, true, 7, 300},
};

std::vector<double> run_path(const path& p, const map_request& q,
                             const std::vector<std::int32_t>& column_major_labels, index_t M,
                             index_t N)
{
    std::vector<std::int32_t> by_rows(column_major_labels.size());
    for (index_t c = 0; c < N; ++c)
        for (index_t r = 0; r < M; ++r) by_rows[r * N + c] = column_major_labels[r + M * c];
    const run_options options{p.threads, p.strip_rows < 0 ? q.h + 1 : p.strip_rows};
    std::vector<double> out(column_major_labels.size(), 0.0);
    if (p.streamed) {
        test::view_source source(row_major<const std::int32_t>(by_rows.data(), M, N));
        test::view_sink sink(column_major(out.data(), M, N));
        stream_map(q, M, N, source, sink, options);
        EXPECT_EQ(sink.next, M) << "not every row was written";
    } else if (p.row_major) {
        std::vector<double> by_rows_out(out.size(), 0.0);
        run_map(q, rw::row_major(by_rows.data(), M, N), rw::row_major(by_rows_out.data(), M, N),
                options);
        for (index_t c = 0; c < N; ++c)
            for (index_t r = 0; r < M; ++r) out[r + M * c] = by_rows_out[r * N + c];
    } else {
        run_map(q, rw::column_major(column_major_labels.data(), M, N),
                rw::column_major(out.data(), M, N), options);
    }
    return out;
}

TEST(GoldenCorpus, EveryPathGivesTheRecordedBits)
{
    const char* names[] = {"Varnok", "Marnisa", "Sulmet", "Ombrel", "Dravix", "Dravix/3"};
    for (const golden::raster_case& rc : golden::rasters) {
        const auto labels = golden::labels_of(rc);
        const auto table = golden::table_of(rc);
        for (const golden::window_case& wc : golden::windows) {
            const auto row = std::find_if(std::begin(golden_rows), std::end(golden_rows),
                                          [&](const golden_row& g) {
                                              return g.size.M == rc.M && g.size.N == rc.N &&
                                                     g.size.h == wc.h && g.size.w == wc.w;
                                          });
            ASSERT_NE(row, std::end(golden_rows));
            for (int k = 0; k < 6; ++k) {
                const map_request q = request_of(k, table, wc.h, wc.w);
                for (const path& p : paths) {
                    const auto out = run_path(p, q, labels, rc.M, rc.N);
                    EXPECT_EQ(golden::hash_of(out.data(), out.size()), row->hash[k])
                        << names[k] << " on " << rc.M << "x" << rc.N << ", window " << wc.h << "x"
                        << wc.w << ", " << p.name;
                }
            }
        }
    }
}

} // namespace
} // namespace rw
