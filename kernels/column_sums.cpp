#include "column_sums.hpp"

namespace rw {
namespace {

[[gnu::always_inline]] inline void slide(std::uint64_t* high, std::uint64_t* low, const column_sums::column_pair& in,
                                         const column_sums::column_pair& out, index_t h, index_t n)
{
    for (index_t k = 0; k < n; ++k) {
        high[k] += (in.high[k + h] - in.high[k]) - (out.high[k + h] - out.high[k]);
        low[k] += (in.low[k + h] - in.low[k]) - (out.low[k + h] - out.low[k]);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define RW_SLIDE_WITH_AVX2 1
// Built for processors with AVX2 too (four words per instruction), and
// chosen at run time: integer sums are the same either way.
[[gnu::target("avx2")]] void slide_avx2(std::uint64_t* high, std::uint64_t* low, const column_sums::column_pair& in,
                                        const column_sums::column_pair& out, index_t h, index_t n)
{
    slide(high, low, in, out, h, n);
}
#endif

} // namespace

void column_sums::slide_run(std::uint64_t* high, std::uint64_t* low, const column_pair& in, const column_pair& out,
                            index_t h, index_t n)
{
#ifdef RW_SLIDE_WITH_AVX2
    if (__builtin_cpu_supports("avx2")) return slide_avx2(high, low, in, out, h, n);
#endif
    slide(high, low, in, out, h, n);
}

} // namespace rw
