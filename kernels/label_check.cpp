#include "label_check.hpp"

#include <algorithm>

namespace rw {

std::optional<bad_label> find_bad_label(const std::int32_t* labels, index_t M, index_t N,
                                        index_t K, cell_block b)
{
    const index_t r0 = std::max<index_t>(b.r0, 0), r1 = std::min(b.r1, M);
    const index_t c0 = std::max<index_t>(b.c0, 0), c1 = std::min(b.c1, N);
    for (index_t c = c0; c < c1; ++c) {
        const std::int32_t* col = labels + M * c;
        for (index_t r = r0; r < r1; ++r)
            if (col[r] < 1 || col[r] > K) return bad_label{col[r], r, c};
    }
    return std::nullopt;
}

} // namespace rw
