#include "sliding_sums.hpp"

#include "vector_units.hpp"

namespace rw {
namespace {

[[gnu::always_inline]] inline void step_shares(std::uint64_t* high, std::uint64_t* low, const std::uint64_t* in,
                                               std::uint64_t* out, index_t n)
{
    for (index_t k = 0; k < n; ++k) {
        high[k] += in[k] - out[k];
        low[k] += in[window_run + k] - out[window_run + k];
        out[k] = in[k];
        out[window_run + k] = in[window_run + k];
    }
}

#ifdef RW_X86_VECTOR_UNITS
// Built for processors with AVX2 too (four words per instruction);
// vector_units.hpp chooses. Integer sums are the same either way.
[[gnu::target("avx2")]] void step_shares_avx2(std::uint64_t* high, std::uint64_t* low, const std::uint64_t* in,
                                              std::uint64_t* out, index_t n)
{
    step_shares(high, low, in, out, n);
}
#endif

} // namespace

void sliding_value_sums::step(std::uint64_t* high, std::uint64_t* low, const std::uint64_t* in, std::uint64_t* out,
                              index_t n)
{
#ifdef RW_X86_VECTOR_UNITS
    if (vector_unit_in_use() != vector_unit::plain) return step_shares_avx2(high, low, in, out, n);
#endif
    step_shares(high, low, in, out, n);
}

} // namespace rw
