// Marnisa(table, window, labels): the sampled class-value mean map.
#include "gateway.hpp"

#include "kernels/crt_rand.hpp"
#include "kernels/sampling.hpp"
#include "maps/marnisa.hpp"

MEX_ENTRY void mexFunction(int, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    gw::run("Marnisa", [&](const gw::gateway& g) {
        g.expect_arg_count(nrhs, 3, 3, "The number of input arguments must be three.");
        rw::raster_args a = g.read_args(prhs);
        g.check_labels(a, rw::whole_raster(a.M, a.N));
        const std::vector<std::int32_t> thresholds = rw::threshold_table(a.table, a.K);
        plhs[0] = g.create_output(a);
        rw::crt_rand gen(gw::clock_seed());
        rw::marnisa_map(a, thresholds.data(), gen);
    });
}
