#include "dravix.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>

namespace rw {
namespace {

__extension__ using wide_t = unsigned __int128;

} // namespace

index_t probe_reach(index_t size)
{
    return static_cast<index_t>(0.85 * static_cast<double>(size / 2)); // truncates
}

cell_block sampling_region(index_t M, index_t N, index_t h, index_t w)
{
    const index_t ri = probe_reach(h), rj = probe_reach(w);
    return {ri + 1, M - ri - 1, rj + 1, N - rj - 1};
}

index_t probe_count(std::int32_t probes_per_cell, index_t M, index_t N, index_t n)
{
    if (probes_per_cell < 0) throw std::invalid_argument("probesPerCell is negative");
    if (n < 1) throw std::invalid_argument("probe count of no points");
    // Below 2^31 * 2^63, so the product cannot wrap in 128 bits.
    const wide_t cells = static_cast<std::uint64_t>(M * N);
    const wide_t P = wide_t(static_cast<std::uint32_t>(probes_per_cell)) * cells /
                     static_cast<std::uint64_t>(n);
    constexpr wide_t most_entries = PTRDIFF_MAX / sizeof(index_t);
    if (P + wide_t(static_cast<std::uint64_t>(n)) > most_entries) throw std::bad_alloc();
    return static_cast<index_t>(P);
}

std::int32_t keep_threshold(index_t e)
{
    if (e == 0) return 32767;
    return static_cast<std::int32_t>(32767.0 / std::sqrt(static_cast<double>(e))); // truncates
}

index_t same_class_estimate(index_t area, index_t l, index_t P)
{
    index_t product;
    if (!__builtin_mul_overflow(area, l, &product)) return product / P;
    // Huge windows with huge probe counts: the quotient is still at most area.
    return static_cast<index_t>(wide_t(static_cast<std::uint64_t>(area)) *
                                wide_t(static_cast<std::uint64_t>(l)) /
                                wide_t(static_cast<std::uint64_t>(P)));
}

void dravix_density(std::int32_t* points, const raster_args& a)
{
    if (scored_positions_of(a.M, a.N, a.h, a.w).empty()) return;
    summed_area_table(points, a.M, a.N);
    write_window_means(points, a.M, a.N, a.h, a.w, a.out);
}

} // namespace rw
