// Dravix(table, window, labels [, probesPerCell]): the thinned point-density
// map.
#include "gateway.hpp"

MEX_ENTRY void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    gw::run("Dravix", [&](const gw::gateway& g) {
        g.expect_arg_count(nrhs, 3, 4, "The number of input arguments must be three or four.");
        g.expect_one_output(nlhs);
        const std::int32_t probes_per_cell =
            nrhs == 4 ? g.read_probes_per_cell(prhs[3]) : rw::default_probes_per_cell;
        gw::gateway::map_call call = g.read_call(rw::map_kind::dravix, prhs);
        call.request.probes_per_cell = probes_per_cell;
        call.request.seed = gw::clock_seed();
        g.check(call);
        plhs[0] = g.create_output(call);
        g.run(call);
    });
}
