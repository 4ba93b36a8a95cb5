// Dravix(table, window, labels [, probesPerCell]): the thinned point-density
// map.
#include "gateway.hpp"

#include "kernels/crt_rand.hpp"
#include "kernels/sampling.hpp"
#include "maps/dravix.hpp"

MEX_ENTRY void mexFunction(int, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    gw::run("Dravix", [&](const gw::gateway& g) {
        g.expect_arg_count(nrhs, 3, 4, "The number of input arguments must be three or four.");
        const std::int32_t probes_per_cell =
            nrhs == 4 ? g.read_count(prhs[3], "badProbesPerCell", "probesPerCell (argument 4)")
                      : rw::default_probes_per_cell;
        rw::raster_args a = g.read_args(prhs);
        g.check_labels(a, rw::sampling_region(a.M, a.N, a.h, a.w));
        const std::vector<std::int32_t> thresholds = rw::threshold_table(a.table, a.K);
        rw::crt_rand gen(gw::clock_seed());
        std::vector<std::int32_t> points =
            rw::dravix_points(a, thresholds.data(), probes_per_cell, gen);
        // The output raster is created only once the points stand.
        plhs[0] = g.create_output(a);
        rw::dravix_density(points.data(), a);
    });
}
