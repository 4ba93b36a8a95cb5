// The golden corpus: fixed rasters, windows and seeds whose outputs were
// hashed once, from the plug-ins' arithmetic, and must never change.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

namespace golden {

struct splitmix {
    std::uint64_t s;
    std::uint64_t operator()() {
        std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

struct raster_case { int M, N, K; std::uint64_t seed; };
struct window_case { int h, w; };

inline const raster_case rasters[] = {{61, 47, 7, 1}, {90, 120, 12, 2}, {40, 300, 3, 3}, {300, 64, 5, 4}, {70, 28, 4, 5}};
inline const window_case windows[] = {{5, 7}, {21, 21}, {1, 1}, {4, 9}, {12, 3}};

// Column-major labels in 1..K: patches of one class with a quarter of the
// cells random, so that windows see both few and many classes.
inline std::vector<std::int32_t> labels_of(const raster_case& c) {
    splitmix g{c.seed};
    std::vector<std::int32_t> l(static_cast<std::size_t>(c.M) * c.N);
    for (int col = 0; col < c.N; ++col)
        for (int r = 0; r < c.M; ++r) {
            const std::uint64_t x = g();
            const int patch = static_cast<int>(((r / 6) * 7 + (col / 5) * 3) % c.K);
            l[r + static_cast<std::size_t>(c.M) * col] =
                1 + ((x & 3) == 0 ? static_cast<int>((x >> 8) % c.K) : patch);
        }
    return l;
}

// Class values spread over -0.2 .. 1.2 with full 53-bit mantissas.
inline std::vector<double> table_of(const raster_case& c) {
    splitmix g{c.seed * 977};
    std::vector<double> t(c.K);
    for (double& v : t) v = -0.2 + 1.4 * static_cast<double>(g() >> 11) * 0x1.0p-53;
    return t;
}

// FNV-1a over the bytes of every double: any change of any bit shows.
inline std::uint64_t hash_of(const double* x, std::size_t n) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t k = 0; k < n; ++k) {
        std::uint64_t b;
        std::memcpy(&b, &x[k], 8);
        for (int i = 0; i < 8; ++i) { h ^= (b >> (8 * i)) & 0xFF; h *= 1099511628211ull; }
    }
    return h;
}

} // namespace golden
