// Sampled class-value mean map: every cell takes part only at random, with
// its class value as the chance (the class's sampling threshold), and a
// selected cell contributes that same value. Each scored cell receives the
// mean over its window, where unselected cells count as 0.
//
// Cells are decided row by row over the whole raster, one draw per cell whose
// threshold is positive, from a generator seeded with the request's seed.
#pragma once

#include "kernels/crt_rand.hpp"
#include "kernels/sampling.hpp"
#include "kernels/strip_driver.hpp"
#include "kernels/summed_area.hpp"
#include "kernels/valid_cells.hpp"
#include "maps/raster_maps.hpp"

#include <bit>
#include <cstdint>
#include <vector>

namespace rw {

// What a cell of class value `value` and sampling threshold `threshold`
// adds to the sums: the value when kept, else +0.0 (all bits clear). Takes
// the cell's draw from gen when the threshold is positive.
inline double sampled_value(std::int32_t threshold, double value, crt_rand& gen)
{
    const std::uint64_t keep = -static_cast<std::uint64_t>(sampling_test(threshold, gen));
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) & keep);
}

class marnisa_map final : public strip_processor {
public:
    marnisa_map(const map_request& q, index_t M, index_t N, index_t strip_rows, worker_pool& pool);

    index_t label_rows_kept() const override { return 0; }
    index_t output_rows_ready(index_t have) const override { return output_rows_final(M_, q_.h, have); }
    void advance(label_view band, index_t a, index_t b, output_view out) override;

private:
    map_request q_;
    index_t M_, N_;
    scored_positions p_;
    std::vector<std::int32_t> thresholds_;
    crt_rand next_row_; // where the row-by-row walk starts the next strip's first row
    summed_area_strip<double> values_;
    window_valid_counts valid_;
    worker_pool& pool_;
};

} // namespace rw
