/* A stand-in for MATLAB's matrix.h: the part of the documented MEX API
 * (separate complex storage, 64-bit sizes, as mex -R2017b builds) that the
 * gateways use, declared as MATLAB documents it. It lets CI compile and link
 * the gateways' MATLAB branch without MATLAB; any call beyond this subset
 * fails to compile, so the gateways cannot drift from what MATLAB offers. */
#ifndef RASTER_MAPS_MATLAB_STAND_IN_MATRIX_H
#define RASTER_MAPS_MATLAB_STAND_IN_MATRIX_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

typedef struct mxArray_tag mxArray;
typedef size_t mwSize;
typedef size_t mwIndex;
typedef enum { mxREAL, mxCOMPLEX } mxComplexity;

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity);
double* mxGetPr(const mxArray* pm);
void* mxGetData(const mxArray* pm);
size_t mxGetM(const mxArray* pm);
size_t mxGetN(const mxArray* pm);
mwSize mxGetNumberOfDimensions(const mxArray* pm);
const mwSize* mxGetDimensions(const mxArray* pm);
size_t mxGetNumberOfElements(const mxArray* pm);
const char* mxGetClassName(const mxArray* pm);
bool mxIsDouble(const mxArray* pm);
bool mxIsInt32(const mxArray* pm);
bool mxIsComplex(const mxArray* pm);
bool mxIsSparse(const mxArray* pm);

#ifdef __cplusplus
}
#endif
#endif
