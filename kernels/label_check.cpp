#include "label_check.hpp"

#include <algorithm>

namespace rw {

std::optional<bad_label> find_bad_label(raster_view<const std::int32_t> labels, index_t K,
                                        cell_block b)
{
    const index_t r0 = std::max(b.r0, labels.row0), r1 = std::min(b.r1, labels.row_end());
    const index_t c0 = std::max(b.c0, labels.col0), c1 = std::min(b.c1, labels.col0 + labels.cols);
    if (r1 <= r0 || c1 <= c0) return std::nullopt;
    const auto bad = [K](std::int32_t l) { return l < 1 || l > K; };
    if (labels.row_step == 1) { // columns in memory order: the first one found is the answer
        for (index_t c = c0; c < c1; ++c) {
            const std::int32_t* col = &labels(r0, c);
            for (index_t r = 0; r < r1 - r0; ++r)
                if (bad(col[r])) return bad_label{col[r], r0 + r, c};
        }
        return std::nullopt;
    }
    // Rows in memory order; keep the bad label of least column, then row.
    std::optional<bad_label> first;
    for (index_t r = r0; r < r1; ++r) {
        const std::int32_t* row = &labels(r, c0);
        const index_t step = labels.col_step, last = first ? first->col : c1;
        for (index_t c = c0; c < std::min(last + 1, c1); ++c)
            if (bad(row[(c - c0) * step])) {
                if (!first || c < first->col) first = bad_label{row[(c - c0) * step], r, c};
                break;
            }
    }
    return first;
}

} // namespace rw
