// Varnok(table, window, labels): the class-value mean map.
#include "gateway.hpp"

MEX_ENTRY void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    gw::run("Varnok", [&](const gw::gateway& g) {
        g.expect_arg_count(nrhs, 3, 3, "The number of input arguments must be three.");
        g.expect_one_output(nlhs);
        gw::gateway::map_call call = g.read_call(rw::map_kind::varnok, prhs);
        g.check(call);
        plhs[0] = g.create_output(call);
        g.run(call);
    });
}
