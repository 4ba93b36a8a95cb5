// Sulmet(table, window, labels): the squared-difference similarity map.
#include "gateway.hpp"

#include "maps/sulmet.hpp"

MEX_ENTRY void mexFunction(int, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    gw::run("Sulmet", [&](const gw::gateway& g) {
        g.expect_arg_count(nrhs, 3, 3, "The number of input arguments must be three.");
        rw::raster_args a = g.read_args(prhs);
        g.check_labels(a, rw::whole_raster(a.M, a.N));
        plhs[0] = g.create_output(a);
        rw::sulmet_map(a);
    });
}
