#include "vector_units.hpp"

#include <cstdlib>
#include <cstring>

namespace rw {
namespace {

vector_unit best_of_processor()
{
#ifdef RW_X86_VECTOR_UNITS
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl"))
        return vector_unit::avx512;
    if (avx2) return vector_unit::avx2;
#endif
    return vector_unit::plain;
}

vector_unit capped(vector_unit best)
{
    const char* cap = std::getenv("RASTER_MAPS_VECTOR_UNITS");
    if (!cap) return best;
    if (std::strcmp(cap, "plain") == 0) return vector_unit::plain;
    if (std::strcmp(cap, "avx2") == 0 && best == vector_unit::avx512) return vector_unit::avx2;
    return best;
}

} // namespace

vector_unit vector_unit_in_use()
{
    static const vector_unit unit = capped(best_of_processor());
    return unit;
}

} // namespace rw
