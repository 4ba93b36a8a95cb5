// Class-value mean map: every scored cell receives the mean, over its window,
// of the class value of each cell.
#pragma once

#include "kernels/strip_driver.hpp"
#include "kernels/summed_area.hpp"
#include "kernels/valid_cells.hpp"
#include "maps/raster_maps.hpp"

namespace rw {

class varnok_map final : public strip_processor {
public:
    varnok_map(const map_request& q, index_t M, index_t N, index_t strip_rows, worker_pool& pool);

    index_t label_rows_kept() const override { return 0; }
    index_t output_rows_ready(index_t have) const override { return output_rows_final(M_, q_.h, have); }
    void advance(label_view band, index_t a, index_t b, output_view out) override;

private:
    map_request q_;
    index_t M_;
    scored_positions p_;
    summed_area_strip<double> values_;
    window_valid_counts valid_;
    worker_pool& pool_;
};

} // namespace rw
