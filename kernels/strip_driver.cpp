#include "strip_driver.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

namespace rw {

index_t default_strip_rows(index_t M, index_t N, index_t h)
{
    // About 2^19 cells a strip, and at least twice the rows carried over.
    const index_t by_cells = (index_t{1} << 19) / std::max<index_t>(N, 1);
    const index_t rows = std::max({by_cells, 2 * std::min(h, M), index_t{32}});
    return std::max<index_t>(1, std::min(rows, M));
}

void drive_in_memory(strip_processor& p, raster_view<const std::int32_t> labels,
                     raster_view<double> out, index_t strip_rows)
{
    const index_t M = labels.rows;
    const index_t kept = p.label_rows_kept();
    if (p.has_count_pass()) {
        for (index_t a = 0; a < M; a += strip_rows) {
            const index_t b = std::min(M, a + strip_rows);
            p.count(labels.band(std::max<index_t>(0, a - kept), b), a, b);
        }
        p.end_count();
    }
    index_t done = 0;
    for (index_t a = 0; a < M; a += strip_rows) {
        const index_t b = std::min(M, a + strip_rows);
        const index_t ready = p.output_rows_ready(b);
        p.advance(labels.band(std::max<index_t>(0, a - kept), b), a, b, out.band(done, ready));
        done = ready;
    }
}

namespace {

// Label rows of the current strip and the ones kept above it, stored column
// by column.
class label_band {
public:
    label_band(index_t N, index_t kept, index_t strip_rows)
        : N_(N), kept_(kept), height_(kept + strip_rows),
          cells_(static_cast<std::size_t>(height_ * N))
    {
    }

    // Reads rows a .. b-1 below the kept rows of the previous strip.
    raster_view<const std::int32_t> next(label_source& source, index_t a, index_t b)
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

private:
    index_t N_, kept_, height_, top_ = 0;
    std::vector<std::int32_t> cells_;
};

} // namespace

void drive_stream(strip_processor& p, index_t M, index_t N, label_source& source,
                  output_sink& sink, index_t strip_rows, const band_check& check)
{
    // Windows taller than the raster keep no more than the raster.
    const index_t kept = std::min(p.label_rows_kept(), M);
    if (p.has_count_pass()) {
        label_band band(N, kept, strip_rows);
        for (index_t a = 0; a < M; a += strip_rows) {
            const index_t b = std::min(M, a + strip_rows);
            const auto rows = band.next(source, a, b);
            check(rows.band(a, b));
            p.count(rows, a, b);
        }
        p.end_count();
    }
    label_band band(N, kept, strip_rows);
    // Output rows finish at most strip_rows at a time, and all the rest with
    // the last strip.
    index_t most = 0;
    for (index_t a = 0, done = 0; a < M; a += strip_rows) {
        const index_t b = std::min(M, a + strip_rows), ready = p.output_rows_ready(b);
        most = std::max(most, ready - done);
        done = ready;
    }
    std::vector<double> rows(static_cast<std::size_t>(most * N));
    index_t done = 0;
    for (index_t a = 0; a < M; a += strip_rows) {
        const index_t b = std::min(M, a + strip_rows);
        const auto labels = band.next(source, a, b);
        check(labels.band(a, b));
        const index_t ready = p.output_rows_ready(b);
        std::fill(rows.begin(), rows.begin() + (ready - done) * N, 0.0);
        raster_view<double> out{rows.data(), ready - done, N, 1, ready - done, done, 0};
        p.advance(labels, a, b, out);
        if (ready > done) sink.write(done, ready, out);
        done = ready;
    }
}

} // namespace rw
