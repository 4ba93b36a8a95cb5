#include "fuzz_case.hpp"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <limits>

namespace rw::fuzz {
namespace {

using int32_limits = std::numeric_limits<std::int32_t>;

// Class values a byte may stand for besides the plain ones: the edges of
// the sampling thresholds, non-finite values with several payloads, the
// extremes of double and magnitudes that swamp each other in a sum.
const double special_values[] = {
    0.0,
    -0.0,
    1.0,
    -1.0,
    1.0 / 32767,
    2.0 / 32767,
    32767.0 / 32768,
    32768.0 / 32767,
    std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN(),
    std::bit_cast<double>(std::uint64_t{0x7ff8000000000123}),
    std::bit_cast<double>(std::uint64_t{0x7ff0000000000001}), // signalling
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::denorm_min(),
    1e16,
    -1e16,
    1e300,
    0.5,
    3.0,
    1e8,
};

// Window sides beyond any raster here: those past 2^31 wrap 32-bit sizes,
// and the largest 64-bit side wraps any sum with it.
const index_t huge_window_sides[] = {
    index_t{1} << 31, index_t{1} << 40, index_t{1} << 62, std::numeric_limits<index_t>::max(),
};

// Probe counts besides 0..24: negative ones, which are rejected, and one
// that can give a lone point more than 2^20 probes (its keep thresholds are
// then not tabled). Counts in the millions are left out: they cost minutes
// per call, or a pool of gigabytes.
const std::int32_t special_probe_counts[] = {-1, -12, int32_limits::min(), 120};

index_t window_side(FuzzedDataProvider& in)
{
    const auto pick = in.ConsumeIntegral<std::uint8_t>();
    constexpr int plain = 252;
    if (pick < plain) return pick % (max_window_side + 2) - 1; // -1 .. max_window_side
    return huge_window_sides[pick - plain];
}

index_t class_count(FuzzedDataProvider& in)
{
    const auto pick = in.ConsumeIntegral<std::uint8_t>();
    if (pick < 250) return pick % (max_classes + 1);
    return pick < 253 ? 1000 : 5000; // far more classes than cells: Sulmet's sliding histogram
}

double class_value(FuzzedDataProvider& in)
{
    const auto pick = in.ConsumeIntegral<std::uint8_t>();
    constexpr int plain = 160, specials = static_cast<int>(std::size(special_values));
    if (pick < plain) return (pick - 32) / 96.0; // -1/3 .. 4/3, thresholds both sides of 0 and 1
    if (pick < plain + specials) return special_values[pick - plain];
    return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
}

std::int32_t probes_per_cell(FuzzedDataProvider& in)
{
    const auto pick = in.ConsumeIntegral<std::uint8_t>();
    constexpr int specials = static_cast<int>(std::size(special_probe_counts));
    if (pick < 256 - specials) return pick % 25;
    return special_probe_counts[pick - (256 - specials)];
}

// A byte per cell, the bytes repeated when the raster has more cells: most
// stand for a label 1..K, the rest for labels at and past the ends of 1..K
// and at the int32 extremes.
std::int32_t label_of(std::uint8_t byte, index_t K)
{
    constexpr int plain = 236;
    const std::int32_t k = static_cast<std::int32_t>(K);
    if (byte < plain) return 1 + static_cast<std::int32_t>(byte % std::max<index_t>(K, 1));
    const std::int32_t out_of_range[] = {0, -1, k + 1, k + 2, -k, int32_limits::min(),
                                         int32_limits::max(), int32_limits::min() + 1,
                                         int32_limits::max() - 1, 1000, -1000, 65536,
                                         k, 1, 2, k - 1, 3, 0, -2, k + 3};
    return out_of_range[(byte - plain) % std::size(out_of_range)];
}

// Cuts 0 < ... < size at random steps of 1 .. most, from a generator of
// its own: the tiling comes from the seed already decoded, so every input
// of the corpus keeps the case it had and gains a tiling.
std::vector<index_t> cuts(index_t size, index_t most, std::uint64_t& state)
{
    std::vector<index_t> at{0};
    while (at.back() < size) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const auto step = static_cast<index_t>((state >> 33) % static_cast<std::uint64_t>(most)) + 1;
        at.push_back(std::min(size, at.back() + step));
    }
    if (size == 0) at.push_back(0);
    return at;
}

} // namespace

fuzz_case decode_case(map_kind map, const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    fuzz_case c;
    c.M = in.ConsumeIntegralInRange<index_t>(0, max_side);
    c.N = in.ConsumeIntegralInRange<index_t>(0, max_side);
    c.request.map = map;
    c.request.h = window_side(in);
    c.request.w = window_side(in);
    c.request.probes_per_cell = map == map_kind::dravix ? probes_per_cell(in) : default_probes_per_cell;
    c.request.seed = in.ConsumeIntegral<std::uint32_t>();
    c.strip_rows = in.ConsumeIntegralInRange<index_t>(1, 9);
    c.table.resize(static_cast<std::size_t>(class_count(in)));
    for (double& v : c.table) v = class_value(in);
    c.request.table = c.table.data();
    c.request.K = static_cast<index_t>(c.table.size());

    // Tiles of a row or column up to a few times the strip height, so that
    // some cases cut every window and others hold them whole.
    std::uint64_t state = c.request.seed;
    c.row_cuts = cuts(c.M, 4 * c.strip_rows, state);
    c.col_cuts = cuts(c.N, 4 * c.strip_rows + 3, state);
    // Both arithmetics, from the same generator, so corpus inputs keep their
    // case and each runs under one of them.
    state = state * 6364136223846793005u + 1442695040888963407u;
    c.request.arithmetic = (state >> 63) != 0 ? arithmetic::exact : arithmetic::plugin;

    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();
    c.labels.resize(static_cast<std::size_t>(c.M * c.N), 1);
    if (!bytes.empty())
        for (std::size_t k = 0; k < c.labels.size(); ++k)
            c.labels[k] = label_of(bytes[k % bytes.size()], c.request.K);
    return c;
}

std::string fuzz_case::describe() const
{
    static const char* names[] = {"Varnok", "Marnisa", "Sulmet", "Ombrel", "Dravix"};
    char text[256];
    std::snprintf(text, sizeof text,
                  "%s on %" PRId64 " x %" PRId64 ", window %" PRId64 " x %" PRId64 ", K = %" PRId64
                  ", probes per cell %d, seed %u, %s arithmetic, strips of %" PRId64 ", %zu x %zu tiles",
                  names[static_cast<int>(request.map)], M, N, request.h, request.w, request.K,
                  request.probes_per_cell, request.seed,
                  request.arithmetic == arithmetic::exact ? "exact" : "plugin", strip_rows,
                  row_cuts.size() - 1, col_cuts.size() - 1);
    return text;
}

} // namespace rw::fuzz
