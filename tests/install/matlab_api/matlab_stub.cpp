// Link-time stand-ins for MATLAB's libmx, libmex and libut, so that each
// gateway's MATLAB build links with no symbol left undefined. Never run:
// every entry aborts.
#include "mex.h"

#include <cstdlib>

#define STUB __attribute__((visibility("default")))

extern "C" {
STUB mxArray* mxCreateDoubleMatrix(mwSize, mwSize, mxComplexity) { std::abort(); }
STUB double* mxGetPr(const mxArray*) { std::abort(); }
STUB void* mxGetData(const mxArray*) { std::abort(); }
STUB size_t mxGetM(const mxArray*) { std::abort(); }
STUB size_t mxGetN(const mxArray*) { std::abort(); }
STUB mwSize mxGetNumberOfDimensions(const mxArray*) { std::abort(); }
STUB const mwSize* mxGetDimensions(const mxArray*) { std::abort(); }
STUB size_t mxGetNumberOfElements(const mxArray*) { std::abort(); }
STUB const char* mxGetClassName(const mxArray*) { std::abort(); }
STUB bool mxIsDouble(const mxArray*) { std::abort(); }
STUB bool mxIsInt32(const mxArray*) { std::abort(); }
STUB bool mxIsComplex(const mxArray*) { std::abort(); }
STUB bool mxIsSparse(const mxArray*) { std::abort(); }
STUB void mexErrMsgIdAndTxt(const char*, const char*, ...) { std::abort(); }
STUB bool utIsInterruptPending(void) { std::abort(); }
}
