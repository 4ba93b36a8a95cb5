// Runs a map strip by strip of rows: over a raster in memory (the strips are
// views into it, nothing is copied) or over one read from a source and
// written to a sink, with memory bounded by the strip height whatever M is.
//
// A map is a strip_processor: it is handed each new strip of label rows in
// order, together with the rows above it that it asked to keep, and writes
// every output row that has become final.
#pragma once

#include "raster_window.hpp"
#include "worker_pool.hpp"

#include <functional>

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

class strip_processor {
public:
    virtual ~strip_processor() = default;

    // Label rows above each new strip that advance() still reads.
    virtual index_t label_rows_kept() const = 0;

    // A first pass over all rows before the output pass (Dravix counts its
    // points), strip by strip in order; then end_count() once.
    virtual bool has_count_pass() const { return false; }
    virtual void count(raster_view<const std::int32_t> /*band*/, index_t /*a*/, index_t /*b*/) {}
    virtual void end_count() {}

    // Output rows 0 .. ready-1 are final once label rows 0 .. have-1 were
    // handed in; must give M for have = M.
    virtual index_t output_rows_ready(index_t have) const = 0;

    // Takes label rows a .. b-1 (band holds rows a - label_rows_kept() .. b-1,
    // clipped at 0) and writes the output rows that become final, the rows
    // of out (all 0 on entry), which run from output_rows_ready(a) to
    // output_rows_ready(b).
    virtual void advance(raster_view<const std::int32_t> band, index_t a, index_t b,
                         raster_view<double> out) = 0;
};

// Checks the label rows of a band before they are used; throws to refuse.
using band_check = std::function<void(raster_view<const std::int32_t> band)>;

// Strip height for N columns and a window of h rows: tall enough that
// carrying h rows costs little, short enough that a strip stays in cache.
index_t default_strip_rows(index_t M, index_t N, index_t h);

// The labels must have been validated already.
void drive_in_memory(strip_processor& p, raster_view<const std::int32_t> labels,
                     raster_view<double> out, index_t strip_rows);

void drive_stream(strip_processor& p, index_t M, index_t N, label_source& source,
                  output_sink& sink, index_t strip_rows, const band_check& check);

} // namespace rw
