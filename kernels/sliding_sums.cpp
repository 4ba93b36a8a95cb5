#include "sliding_sums.hpp"

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

#if defined(__x86_64__) && defined(__GNUC__)
#define RW_STEP_WITH_AVX2 1
// Built for processors with AVX2 too (four words per instruction), and
// chosen at run time: integer sums are the same either way.
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
#ifdef RW_STEP_WITH_AVX2
    if (__builtin_cpu_supports("avx2")) return step_shares_avx2(high, low, in, out, n);
#endif
    step_shares(high, low, in, out, n);
}

} // namespace rw
