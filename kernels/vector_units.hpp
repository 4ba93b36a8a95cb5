// The vector instructions that kernels built more than once may use: for
// processors with AVX-512, with AVX2 and FMA, and for any processor. Every
// build gives the same bits (integer sums, or the same IEEE operations on
// doubles, exact where they differ), so the choice is speed alone. The
// environment variable RASTER_MAPS_VECTOR_UNITS=plain (or avx2) caps it,
// which is how the tests run the other builds.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#define RW_X86_VECTOR_UNITS 1 // the kernels' AVX2 and AVX-512 builds exist
#endif

namespace rw {

enum class vector_unit { plain, avx2, avx512 };

// The best this processor has, within the cap; read once.
vector_unit vector_unit_in_use();

} // namespace rw
