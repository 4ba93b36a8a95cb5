/* A stand-in for MATLAB's mex.h; see matrix.h. */
#ifndef RASTER_MAPS_MATLAB_STAND_IN_MEX_H
#define RASTER_MAPS_MATLAB_STAND_IN_MEX_H

#include "matrix.h"

#ifdef __cplusplus
extern "C" {
#endif

void mexErrMsgIdAndTxt(const char* errorid, const char* errormsg, ...);

#ifdef __cplusplus
}
#endif
#endif
