// Ombrel(table, window, labels): the square-root overlap (Bhattacharyya) map.
#include "gateway.hpp"

MEX_ENTRY void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    gw::run("Ombrel", [&](const gw::gateway& g) {
        g.expect_arg_count(nrhs, 3, 3, "The number of input arguments must be three.");
        g.expect_one_output(nlhs);
        gw::gateway::map_call call = g.read_call(rw::map_kind::ombrel, prhs);
        g.check(call);
        plhs[0] = g.create_output(call);
        g.run(call);
    });
}
