// floor_mex(labels): the cheapest possible plug-in with a raster-sized result.
// It creates an M x N double matrix, writes double(labels) into every cell and
// returns it, so its time is what the host charges any plug-in for creating,
// writing and handing back its output. A plug-in's time over this floor is
// what its map really costs.
#include "mex.h"

#include <cstddef>
#include <cstdint>

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray* plhs[], int nrhs,
                                                                   const mxArray* prhs[])
{
    if (nrhs != 1 || !mxIsInt32(prhs[0]) || mxIsComplex(prhs[0]) ||
        mxGetNumberOfDimensions(prhs[0]) != 2)
        mexErrMsgIdAndTxt("floor_mex:badLabels", "floor_mex takes one real int32 matrix.");
    const mwSize M = mxGetM(prhs[0]), N = mxGetN(prhs[0]);
    const auto* labels = static_cast<const std::int32_t*>(mxGetData(prhs[0]));
    mxArray* out = mxCreateDoubleMatrix(M, N, mxREAL);
    double* o = mxGetPr(out);
    const std::size_t n = static_cast<std::size_t>(M) * static_cast<std::size_t>(N);
    for (std::size_t k = 0; k < n; ++k) o[k] = static_cast<double>(labels[k]);
    plhs[0] = out;
}
