#include "row_strips.hpp"

#include <algorithm>
#include <cstring>

namespace rw {

index_t default_strip_rows(index_t M, index_t N, index_t h)
{
    // About 2^19 cells a strip, and at least twice the rows carried over.
    const index_t by_cells = (index_t{1} << 19) / std::max<index_t>(N, 1);
    const index_t rows = std::max({by_cells, 2 * std::min(h, M), index_t{32}});
    return std::max<index_t>(1, std::min(rows, M));
}

label_band::label_band(index_t N, index_t kept, index_t strip_rows)
    : N_(N), kept_(kept), height_(kept + strip_rows), cells_(static_cast<std::size_t>(height_ * N))
{
}

raster_view<const std::int32_t> label_band::next(label_source& source, index_t a, index_t b)
{
    const index_t top = std::max<index_t>(0, a - kept_);
    if (a > 0 && top > top_)
        for (index_t c = 0; c < N_; ++c) {
            std::int32_t* col = cells_.data() + height_ * c;
            std::memmove(col, col + (top - top_), static_cast<std::size_t>(a - top) * sizeof(std::int32_t));
        }
    top_ = top;
    raster_view<std::int32_t> all{cells_.data(), height_, N_, 1, height_, top_, 0};
    source.read(a, b, all.band(a, b));
    return all.band(top_, b);
}

} // namespace rw
