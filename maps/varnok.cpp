#include "varnok.hpp"

#include <memory>

namespace rw {

void varnok_map(const raster_args& a)
{
    if (scored_positions_of(a.M, a.N, a.h, a.w).empty()) return;
    const index_t cells = a.M * a.N;
    // Every cell is written before it is read, so the scratch is not cleared.
    const auto values = std::make_unique_for_overwrite<double[]>(static_cast<std::size_t>(cells));
    for (index_t k = 0; k < cells; ++k) values[k] = a.table[a.labels[k] - 1];
    summed_area_table(values.get(), a.M, a.N);
    write_window_means(values.get(), a.M, a.N, a.h, a.w, a.out);
}

} // namespace rw
