#include "check_paths.hpp"

#include "maps/tile_run.hpp"

#include "tile_by_tile.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace rw::fuzz {
namespace {

[[noreturn]] void fail(const fuzz_case& c, const char* what)
{
    std::fprintf(stderr, "\n%s\n  case: %s\n", what, c.describe().c_str());
    std::abort();
}

label_view labels_of(const fuzz_case& c)
{
    return column_major<const std::int32_t>(c.labels.data(), c.M, c.N);
}

std::vector<double> whole_raster_one_thread(const fuzz_case& c)
{
    std::vector<double> out(c.labels.size(), 0.0);
    run_map(c.request, labels_of(c), column_major(out.data(), c.M, c.N), {1, c.M});
    return out;
}

// Row-major, as numpy and GDAL hold rasters, and on three threads; the
// result comes back column-major for comparison.
std::vector<double> row_major_three_threads(const fuzz_case& c)
{
    std::vector<std::int32_t> by_rows(c.labels.size());
    for (index_t col = 0; col < c.N; ++col)
        for (index_t r = 0; r < c.M; ++r) by_rows[r * c.N + col] = c.labels[r + c.M * col];
    std::vector<double> by_rows_out(c.labels.size(), 0.0);
    run_map(c.request, row_major<const std::int32_t>(by_rows.data(), c.M, c.N),
            row_major(by_rows_out.data(), c.M, c.N), {3, 0});
    std::vector<double> out(c.labels.size());
    for (index_t col = 0; col < c.N; ++col)
        for (index_t r = 0; r < c.M; ++r) out[r + c.M * col] = by_rows_out[r * c.N + col];
    return out;
}

class copying_source final : public label_source {
public:
    explicit copying_source(const fuzz_case& c) : c_(c) {}
    void read(index_t r0, index_t r1, raster_view<std::int32_t> into) override
    {
        if (r0 < 0 || r1 > c_.M || r0 >= r1 || into.cols != c_.N) fail(c_, "rows asked out of range");
        for (index_t col = 0; col < c_.N; ++col)
            for (index_t r = r0; r < r1; ++r) into(r, col) = c_.labels[r + c_.M * col];
    }

private:
    const fuzz_case& c_;
};

class collecting_sink final : public output_sink {
public:
    collecting_sink(const fuzz_case& c, std::vector<double>& out) : c_(c), out_(out) {}
    void write(index_t r0, index_t r1, raster_view<const double> rows) override
    {
        if (r0 != next || r1 < r0 || r1 > c_.M) fail(c_, "output rows out of order");
        for (index_t col = 0; col < c_.N; ++col)
            for (index_t r = r0; r < r1; ++r) out_[r + c_.M * col] = rows(r, col);
        next = r1;
    }
    index_t next = 0;

private:
    const fuzz_case& c_;
    std::vector<double>& out_;
};

std::vector<double> streamed_in_strips(const fuzz_case& c)
{
    std::vector<double> out(c.labels.size(), 0.0);
    copying_source source(c);
    collecting_sink sink(c, out);
    stream_map(c.request, c.M, c.N, source, sink, {1, c.strip_rows});
    if (c.M > 0 && c.N > 0 && sink.next != c.M) fail(c, "stream_map left rows unwritten");
    return out;
}

// Tile by tile: the runner taking the tiles in order, or each tile standing
// alone with only its halo and carries, as a task scheduler runs them.
std::vector<double> tiled(const fuzz_case& c, bool tasks = false)
{
    std::vector<double> out(c.labels.size(), 0.0);
    const auto into = column_major(out.data(), c.M, c.N);
    if (tasks)
        tiles::task_model::run_tile_by_tile(c.request, labels_of(c), into, c.row_cuts, c.col_cuts);
    else
        run_tiled(c.request, labels_of(c), into, c.row_cuts, c.col_cuts);
    return out;
}

// Compares as bits, so NaN payloads and the sign of zero count too.
void expect_same_bits(const fuzz_case& c, const std::vector<double>& want,
                      const std::vector<double>& got, const char* path)
{
    if (want.empty() || std::memcmp(want.data(), got.data(), want.size() * sizeof(double)) == 0) return;
    for (std::size_t k = 0; k < want.size(); ++k) {
        std::uint64_t a, b;
        std::memcpy(&a, &want[k], sizeof a);
        std::memcpy(&b, &got[k], sizeof b);
        if (a == b) continue;
        std::fprintf(stderr,
                     "\nrow %" PRId64 ", column %" PRId64 ": %a (%016" PRIx64 ") on one thread, "
                     "%a (%016" PRIx64 ") %s",
                     static_cast<index_t>(k) % c.M, static_cast<index_t>(k) / c.M, want[k], a,
                     got[k], b, path);
        break;
    }
    fail(c, "paths disagree");
}

bool same_problem(const request_problem& a, const request_problem& b)
{
    return a.kind == b.kind && a.value == b.value && a.row == b.row && a.col == b.col;
}

// A rejected case must be refused by both entries, run_map with the same
// problem; stream_map finds a bad label strip by strip, so only its kind is
// compared.
void expect_rejected(const fuzz_case& c, const request_problem& problem)
{
    try {
        whole_raster_one_thread(c);
        fail(c, "run_map accepted a case that validate rejects");
    } catch (const invalid_request& e) {
        if (!same_problem(e.problem, problem)) fail(c, "run_map and validate name different problems");
    }
    try {
        streamed_in_strips(c);
        fail(c, "stream_map accepted a case that validate rejects");
    } catch (const invalid_request& e) {
        if (e.problem.kind != problem.kind) fail(c, "stream_map and validate name different problems");
    }
    for (const bool tasks : {false, true}) try {
            tiled(c, tasks);
            fail(c, "a tiled run accepted a case that validate rejects");
        } catch (const invalid_request& e) {
            if (!same_problem(e.problem, problem)) fail(c, "a tiled run and validate name different problems");
        }
}

} // namespace

// Dravix refuses, with std::bad_alloc, a probe pool larger than the
// machine's memory; every path must refuse it alike.
template <class Path>
bool refused_for_memory(const Path& path)
{
    try {
        path();
    } catch (const std::bad_alloc&) {
        return true;
    }
    return false;
}

void check_paths(const fuzz_case& c)
{
    if (const auto problem = validate(c.request, labels_of(c))) {
        expect_rejected(c, *problem);
        return;
    }
    std::vector<double> whole;
    if (refused_for_memory([&] { whole = whole_raster_one_thread(c); })) {
        if (!refused_for_memory([&] { row_major_three_threads(c); }) ||
            !refused_for_memory([&] { streamed_in_strips(c); }) ||
            !refused_for_memory([&] { tiled(c); }) || !refused_for_memory([&] { tiled(c, true); }))
            fail(c, "only the whole raster on one thread ran out of memory");
        return;
    }
    expect_same_bits(c, whole, row_major_three_threads(c), "row-major on 3 threads");
    expect_same_bits(c, whole, streamed_in_strips(c), "streamed in strips");
    expect_same_bits(c, whole, tiled(c), "tile by tile");
    expect_same_bits(c, whole, tiled(c, true), "tile by tile, each tile alone");
}

} // namespace rw::fuzz
