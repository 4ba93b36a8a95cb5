#include "varnok.hpp"

#include <vector>

namespace rw {

void varnok_map(const raster_args& a)
{
    if (scored_positions_of(a.M, a.N, a.h, a.w).empty()) return;
    const index_t cells = a.M * a.N;
    std::vector<double> values(static_cast<std::size_t>(cells));
    for (index_t k = 0; k < cells; ++k) values[k] = a.table[a.labels[k] - 1];
    summed_area_table(values.data(), a.M, a.N);
    write_window_means(values.data(), a.M, a.N, a.h, a.w, a.out);
}

} // namespace rw
