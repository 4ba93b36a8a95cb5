// Rows of a raster read and written strip by strip: where a streamed run's
// labels come from, where its output rows go, and the band of label rows a
// run holds at a time, so memory is bounded by the strip height whatever M
// is.
#pragma once

#include "raster_window.hpp"

#include <functional>
#include <vector>

namespace rw {

// Supplies rows r0 .. r1-1 of the label raster into `into` (a view of those
// rows, columns 0 .. N-1). Rows are asked for in increasing order; a map
// with a counting pass (Dravix) asks for every row twice, in two passes.
class label_source {
public:
    virtual ~label_source() = default;
    virtual void read(index_t r0, index_t r1, raster_view<std::int32_t> into) = 0;
};

// Receives the finished output rows r0 .. r1-1, in order, each row once.
class output_sink {
public:
    virtual ~output_sink() = default;
    virtual void write(index_t r0, index_t r1, raster_view<const double> rows) = 0;
};

struct run_options {
    int threads = 0;        // 0: default_thread_count()
    index_t strip_rows = 0; // rows per strip; 0: chosen from N and the window
    // Asked now and then on the calling thread (between strips, and every
    // few milliseconds in long passes); answering true stops the run, which
    // then throws rw::interrupted. A host wires it to its own interrupt key.
    std::function<bool()> interrupted = nullptr;
};

// Strip height for N columns and a window of h rows: tall enough that
// carrying h rows costs little, short enough that a strip stays in cache.
index_t default_strip_rows(index_t M, index_t N, index_t h);

// The label rows of the current strip and `kept` rows above it, stored
// column by column; rows that fall out of reach are dropped.
class label_band {
public:
    label_band(index_t N, index_t kept, index_t strip_rows);

    // Reads rows a .. b-1 (a = 0, or the previous b) below the kept rows;
    // the view holds rows max(0, a - kept) .. b-1.
    raster_view<const std::int32_t> next(label_source& source, index_t a, index_t b);

private:
    index_t N_, kept_, height_, top_ = 0;
    std::vector<std::int32_t> cells_;
};

} // namespace rw
