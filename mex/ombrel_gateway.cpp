// Ombrel(table, window, labels): the square-root overlap (Bhattacharyya) map.
#include "gateway.hpp"

#include "maps/ombrel.hpp"

MEX_ENTRY void mexFunction(int, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    gw::run("Ombrel", [&](const gw::gateway& g) {
        g.expect_arg_count(nrhs, 3, 3, "The number of input arguments must be three.");
        rw::raster_args a = g.read_args(prhs);
        g.check_labels(a, rw::ombrel_read_block(a.M, a.N, a.h, a.w));
        plhs[0] = g.create_output(a);
        rw::ombrel_map(a);
    });
}
