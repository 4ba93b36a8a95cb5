// A MEX file with deliberate faults, built only with RASTER_MAPS_SANITIZE:
// the sanitized Octave tests are worth something only while a fault in a
// plug-in is reported, so a ctest calls each fault and expects its report.
//   sanitizer_canary(int32(1))  reads one element past a 1 x 3 array from Octave
//   sanitizer_canary(int32(2))  overflows a signed 32-bit addition
#include "mex.h"

#include <cstdint>
#include <limits>

extern "C" __attribute__((visibility("default"))) void mexFunction(int, mxArray* plhs[], int nrhs,
                                                                   const mxArray* prhs[])
{
    if (nrhs != 1 || !mxIsInt32(prhs[0]) || mxGetNumberOfElements(prhs[0]) != 1)
        mexErrMsgIdAndTxt("sanitizer_canary:argument", "Expects one int32 scalar, 1 or 2.");
    const std::int32_t fault = *static_cast<const std::int32_t*>(mxGetData(prhs[0]));
    volatile std::int32_t result = 0;
    if (fault == 1) {
        // An int32 scalar argument may live inside a larger host object, so
        // the array read past its end is one that the host allocates.
        mxArray* three = mxCreateNumericMatrix(1, 3, mxINT32_CLASS, mxREAL);
        const auto* x = static_cast<const std::int32_t*>(mxGetData(three));
        volatile std::int64_t past_end = 3;
        result = x[past_end];
        mxDestroyArray(three);
    } else {
        volatile std::int32_t largest = std::numeric_limits<std::int32_t>::max();
        result = largest + fault;
    }
    plhs[0] = mxCreateDoubleScalar(result);
}
