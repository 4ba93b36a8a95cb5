// The streaming driver on a synthetic raster generated strip by strip, far
// larger than memory would hold whole: 60000 x 60000 cells (3.6e9, past
// 2^31) by default, all five maps at 21 x 21. For each map it prints the
// time and the time per cell, and the same for a 4000 x 4000 raster held in
// memory, so the two throughputs compare. The output rows are summed, not
// kept.
// Run: /usr/bin/time -v build/bench/bench_stream [rows cols [threads]]
#include "maps/raster_maps.hpp"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int K = 10;

// Patches of one class with scattered cells of others, from a hash of the
// cell.
std::int32_t hashed_label(rw::index_t r, rw::index_t c)
{
    std::uint64_t x = static_cast<std::uint64_t>(r) * 0x9E3779B97F4A7C15ull ^
                      static_cast<std::uint64_t>(c) * 0xC2B2AE3D27D4EB4Full;
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    const std::int32_t patch = static_cast<std::int32_t>(((r / 37) * 7 + (c / 23) * 3) % K);
    return 1 + ((x & 3) == 0 ? static_cast<std::int32_t>((x >> 8) % K) : patch);
}

// The raster repeats a tile of 1000 x 1024 cells, so that making a strip
// costs a copy, as reading one from a file would, not a hash per cell.
constexpr rw::index_t tile_rows = 1000, tile_cols = 1024;

const std::vector<std::int32_t>& tile()
{
    static const std::vector<std::int32_t> t = [] {
        std::vector<std::int32_t> cells(static_cast<std::size_t>(tile_rows * tile_cols));
        for (rw::index_t c = 0; c < tile_cols; ++c)
            for (rw::index_t r = 0; r < tile_rows; ++r) cells[r + tile_rows * c] = hashed_label(r, c);
        return cells;
    }();
    return t;
}

std::int32_t label_at(rw::index_t r, rw::index_t c)
{
    return tile()[(r % tile_rows) + tile_rows * (c % tile_cols)];
}

class synthetic_source final : public rw::label_source {
public:
    void read(rw::index_t r0, rw::index_t r1, rw::raster_view<std::int32_t> into) override
    {
        const std::int32_t* t = tile().data();
        for (rw::index_t c = 0; c < into.cols; ++c) {
            const std::int32_t* from = t + tile_rows * (c % tile_cols);
            for (rw::index_t r = r0; r < r1; ++r) into(r, c) = from[r % tile_rows];
        }
    }
};

class summing_sink final : public rw::output_sink {
public:
    void write(rw::index_t r0, rw::index_t r1, rw::raster_view<const double> rows) override
    {
        for (rw::index_t c = 0; c < rows.cols; ++c)
            for (rw::index_t r = r0; r < r1; ++r) sum += rows(r, c);
    }
    double sum = 0;
};

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    const rw::index_t M = argc > 1 ? std::atoll(argv[1]) : 60000;
    const rw::index_t N = argc > 2 ? std::atoll(argv[2]) : 60000;
    const int threads = argc > 3 ? std::atoi(argv[3]) : 0;
    std::vector<double> table(K);
    for (int k = 0; k < K; ++k) table[k] = 0.1 * (k + 1);
    const char* names[] = {"Varnok", "Marnisa", "Sulmet", "Ombrel", "Dravix"};
    const rw::map_kind maps[] = {rw::map_kind::varnok, rw::map_kind::marnisa, rw::map_kind::sulmet,
                                 rw::map_kind::ombrel, rw::map_kind::dravix};

    // The in-memory reference: 4000 x 4000.
    const rw::index_t m = 4000, n = 4000;
    std::vector<std::int32_t> labels(static_cast<std::size_t>(m * n));
    for (rw::index_t c = 0; c < n; ++c)
        for (rw::index_t r = 0; r < m; ++r) labels[r + m * c] = label_at(r, c);
    std::vector<double> out(labels.size());

    std::printf("%-8s %14s %10s %12s %10s %12s %6s\n", "map", "streamed", "s", "ns/cell",
                "in memory", "ns/cell", "ratio");
    for (int k = 0; k < 5; ++k) {
        rw::map_request q{maps[k], table.data(), K, 21, 21};
        q.seed = 2026;
        auto t0 = std::chrono::steady_clock::now();
        rw::run_map(q, rw::column_major<const std::int32_t>(labels.data(), m, n),
                    rw::column_major(out.data(), m, n), {threads});
        const double in_memory = seconds_since(t0) / static_cast<double>(m * n) * 1e9;

        synthetic_source source;
        summing_sink sink;
        t0 = std::chrono::steady_clock::now();
        rw::stream_map(q, M, N, source, sink, {threads});
        const double s = seconds_since(t0);
        const double streamed = s / static_cast<double>(M) / static_cast<double>(N) * 1e9;
        std::printf("%-8s %6lldx%-7lld %10.1f %12.2f %10s %12.2f %6.2f\n", names[k],
                    static_cast<long long>(M), static_cast<long long>(N), s, streamed, "",
                    in_memory, streamed / in_memory);
        std::fflush(stdout);
    }
}
