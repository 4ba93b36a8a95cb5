// Maps a small raster through the installed core and checks one window's
// mean by hand, so that the installed headers, libraries and their link
// order all work from outside this tree.
#include "maps/raster_maps.hpp"

#include <cstdint>
#include <cstdio>
#include <vector>

int main()
{
    const rw::index_t M = 30, N = 28, h = 3, w = 3;
    std::vector<std::int32_t> cells(M * N);
    for (rw::index_t k = 0; k < M * N; ++k) cells[k] = static_cast<std::int32_t>(1 + k % 2);
    const std::vector<double> table{0.0, 1.0};
    std::vector<double> result(M * N, 0.0);

    const rw::map_request q{rw::map_kind::varnok, table.data(), 2, h, w};
    const auto labels = rw::row_major<const std::int32_t>(cells.data(), M, N);
    const auto out = rw::row_major(result.data(), M, N);
    if (rw::validate(q, labels)) return 1;
    rw::run_map(q, labels, out);

    // The first window's top-left cell is (10, 10), 0-based, its centre
    // (11, 11); the values are 0 and 1, so every sum is exact.
    double expected = 0.0;
    for (rw::index_t r = 10; r < 10 + h; ++r)
        for (rw::index_t c = 10; c < 10 + w; ++c) expected += table[cells[r * N + c] - 1];
    expected /= static_cast<double>(h * w);
    const double got = result[11 * N + 11];
    std::printf("varnok at (11, 11): %.17g, expected %.17g\n", got, expected);
    return got == expected ? 0 : 1;
}
