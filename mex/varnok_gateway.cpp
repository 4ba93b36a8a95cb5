// Varnok(table, window, labels): the class-value mean map.
#include "gateway.hpp"

#include "maps/varnok.hpp"

MEX_ENTRY void mexFunction(int, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    gw::run("Varnok", [&](const gw::gateway& g) {
        g.expect_arg_count(nrhs, 3, 3, "The number of input arguments must be three.");
        rw::raster_args a = g.read_args(prhs);
        g.check_labels(a, rw::whole_raster(a.M, a.N));
        plhs[0] = g.create_output(a);
        rw::varnok_map(a);
    });
}
