#include "tile_run.hpp"

#include "catalogue.hpp"
#include "dravix.hpp"
#include "map_setup.hpp"
#include "tiles.hpp"
#include "value_table.hpp"

#include "kernels/label_check.hpp"
#include "kernels/sampling.hpp"

#include <algorithm>
#include <optional>

namespace rw {
namespace {

using tiles::tiled_map;

// The cuts as tiles: row ranges, column ranges.
struct grid {
    const tile_cuts& cuts;
    index_t C() const { return static_cast<index_t>(cuts.cols.size()) - 1; }
    cell_block tile(index_t k, index_t r0, index_t r1) const
    {
        return {r0, r1, cuts.cols[k], cuts.cols[k + 1]};
    }
    index_t most_rows() const
    {
        index_t most = 1;
        for (std::size_t a = 1; a < cuts.rows.size(); ++a) most = std::max(most, cuts.rows[a] - cuts.rows[a - 1]);
        return most;
    }
};

template <class T>
raster_view<T> columns(raster_view<T> v, cell_block b)
{
    return {v.data + (b.c0 - v.col0) * v.col_step, v.rows, b.c1 - b.c0, v.row_step, v.col_step, v.row0, b.c0};
}

// Per tile of a tile row, per row r0 .. r1-1: counts[k][r - r0]. Their
// generator positions when the draws run on from `start` in raster order
// (row by row, the tiles of a row from the left); adds their sum to total.
std::vector<std::vector<std::uint64_t>> placed(const std::vector<std::vector<index_t>>& counts,
                                               index_t rows, std::uint64_t start, std::uint64_t& total)
{
    const std::size_t C = counts.size();
    std::vector<index_t> in_order(static_cast<std::size_t>(rows) * C);
    for (index_t r = 0; r < rows; ++r)
        for (std::size_t k = 0; k < C; ++k) in_order[r * C + k] = counts[k][r];
    std::vector<std::uint64_t> at(in_order.size());
    total += draw_positions(in_order.data(), static_cast<index_t>(in_order.size()), start, at.data());
    std::vector<std::vector<std::uint64_t>> per_tile(C, std::vector<std::uint64_t>(static_cast<std::size_t>(rows)));
    for (index_t r = 0; r < rows; ++r)
        for (std::size_t k = 0; k < C; ++k) per_tile[k][r] = at[r * C + k];
    return per_tile;
}

// Calls count(k, tile, per_row) for the tiles k of rows r0 .. r1-1 and places
// what they count.
template <class Count>
std::vector<std::vector<std::uint64_t>> count_and_place(const grid& g, index_t r0, index_t r1,
                                                        std::uint64_t start, std::uint64_t& total,
                                                        Count&& count)
{
    std::vector<std::vector<index_t>> counts(static_cast<std::size_t>(g.C()),
                                             std::vector<index_t>(static_cast<std::size_t>(r1 - r0)));
    for (index_t k = 0; k < g.C(); ++k) count(k, g.tile(k, r0, r1), counts[k].data());
    return placed(counts, r1 - r0, start, total);
}

// Takes the tile rows in order: step(a, b, band, rows) for label rows a ..
// b-1 (band: them and the rows kept above) and the output rows that become
// final once the rows before have(b) are worked through, handed on after.
template <class Have, class Step>
void for_each_tile_row(const grid& g, index_t M, index_t h, label_rows& labels, output_rows& out,
                       Have&& have, Step&& step)
{
    index_t done = 0;
    for (std::size_t s = 0; s + 1 < g.cuts.rows.size(); ++s) {
        const index_t a = g.cuts.rows[s], b = g.cuts.rows[s + 1], ready = output_rows_final(M, h, have(b));
        const label_view band = labels.next(a, b);
        const raster_view<double> rows = out.open(done, ready);
        step(a, b, band, rows);
        out.close(done, ready, rows);
        done = ready;
    }
}

index_t same_row(index_t b) { return b; }

// The output tile k of rows.
cell_block out_tile(const grid& g, index_t k, raster_view<double> rows)
{
    return g.tile(k, rows.row0, rows.row_end());
}

// Varnok, Marnisa, Sulmet: the value table of each tile row, its row sums
// carried rightward, its last rows kept for the windows below; then the
// windows that end in it.
void run_value_table(const tiled_map& t, const grid& g, label_rows& labels, output_rows& out,
                     worker_pool& pool)
{
    const index_t M = t.M, N = t.N, h = t.q.h;
    const bool scored = !windows_of(t, whole_raster(M, N)).empty();
    const bool random = entry_of(t.q.map).random;
    std::optional<exact_value_table> exact;
    if (tiles::sums_exactly(t)) exact.emplace(tiles::exact_table_of(t, {0, M, 0, scored ? N : 0}, h, g.most_rows()));
    summed_area_strip<double> table(exact || !scored ? 0 : N, h, g.most_rows());
    window_valid_counts valid = valid_counts_over(t.run(), t.M, t.N, {0, M, 0, scored ? N : 0}, g.most_rows());
    labels.start_pass(tiles::label_rows_above(t));
    std::uint64_t drawn = 0;
    for_each_tile_row(g, M, h, labels, out, same_row, [&](index_t a, index_t b, label_view band, raster_view<double> rows) {
        if (!scored) return;
        std::vector<std::vector<std::uint64_t>> draw_at;
        if (random)
            draw_at = count_and_place(g, a, b, drawn, drawn, [&](index_t, cell_block tb, index_t* n) {
                tiles::count_draws(t, band, tb, n, &pool);
            });
        valid.build(band, a, b, pool);
        if (exact) {
            exact->start(a, b, pool);
            std::vector<wide_sum> left(static_cast<std::size_t>((b - a) * exact->digits())), right(left.size());
            for (index_t k = 0; k < g.C(); ++k) {
                tiles::exact_values(t, band, g.tile(k, a, b), random ? draw_at[k].data() : nullptr, left.data(),
                                    *exact, right.data(), pool);
                std::swap(left, right);
            }
            for (index_t k = 0; k < g.C(); ++k)
                tiles::score_exact(t, *exact, band, valid, columns(rows, out_tile(g, k, rows)), pool);
            return;
        }
        table.start(a, b, pool);
        std::vector<double> left(static_cast<std::size_t>(b - a)), right(left.size());
        for (index_t k = 0; k < g.C(); ++k) {
            tiles::value_table(t, band, g.tile(k, a, b), random ? draw_at[k].data() : nullptr, left.data(),
                               table, right.data(), pool);
            std::swap(left, right);
        }
        for (index_t k = 0; k < g.C(); ++k)
            tiles::score_from_table(t, table.view(), band, valid, columns(rows, out_tile(g, k, rows)), pool);
    });
}

// Ombrel: the windows that end in each tile row, their scores carried
// rightward from tile to tile.
void run_running_score(const tiled_map& t, const grid& g, label_rows& labels, output_rows& out,
                       worker_pool& pool)
{
    const index_t M = t.M, N = t.N, h = t.q.h;
    const bool scored = !windows_of(t, whole_raster(M, N)).empty();
    window_valid_counts valid = valid_counts_over(t.run(), t.M, t.N, {0, M, 0, scored ? N : 0}, g.most_rows());
    labels.start_pass(h - 1);
    for_each_tile_row(g, M, h, labels, out, same_row, [&](index_t a, index_t b, label_view band, raster_view<double> rows) {
        if (!scored) return;
        valid.build(band, a, b, pool);
        // A raster as wide as one tile starts every row's sweep afresh.
        std::vector<double> carry(static_cast<std::size_t>(rows.rows)), next(carry.size());
        const bool carried = g.C() > 1;
        for (index_t k = 0; k < g.C(); ++k) {
            tiles::ombrel_scores(t, band, valid, carry.data(), columns(rows, out_tile(g, k, rows)),
                                 carried ? next.data() : nullptr, pool);
            std::swap(carry, next);
        }
    });
}

// Dravix: a counting pass places every tile row's draws and points; the
// second pass probes and thins the points of rows whose probes are all in
// (ri rows behind the labels), then scores the windows that end in them.
void run_thinned_points(const tiled_map& t, const grid& g, label_rows& labels, output_rows& out,
                        worker_pool& pool)
{
    const index_t M = t.M, N = t.N, h = t.q.h, C = g.C(), ri = probe_reach(h);
    const bool scored = !windows_of(t, whole_raster(M, N)).empty();
    // Per tile column, per row: its first sampling draw, then its first point.
    std::vector<std::vector<std::uint64_t>> first_draw(static_cast<std::size_t>(C)), first_point(first_draw.size());
    std::uint64_t draws = 0, points = 0;
    if (scored) {
        labels.start_pass(0);
        for (auto& v : first_draw) v.resize(static_cast<std::size_t>(M));
        for (auto& v : first_point) v.resize(static_cast<std::size_t>(M));
        for (std::size_t s = 0; s + 1 < g.cuts.rows.size(); ++s) {
            const index_t a = g.cuts.rows[s], b = g.cuts.rows[s + 1];
            const label_view band = labels.next(a, b);
            const auto draw_at = count_and_place(g, a, b, draws, draws, [&](index_t, cell_block tb, index_t* n) {
                tiles::count_draws(t, band, tb, n, &pool);
            });
            const auto point_at = count_and_place(g, a, b, points, points, [&](index_t k, cell_block tb, index_t* n) {
                tiles::count_points(t, band, tb, draw_at[k].data(), n, &pool);
            });
            for (index_t k = 0; k < C; ++k) {
                std::copy(draw_at[k].begin(), draw_at[k].end(), first_draw[k].begin() + a);
                std::copy(point_at[k].begin(), point_at[k].end(), first_point[k].begin() + a);
            }
        }
    }
    const tiles::point_totals totals = tiles::totals_of(t, static_cast<index_t>(draws), static_cast<index_t>(points));
    std::optional<point_probes> probes;
    if (points > 0) probes.emplace(t.q, totals.draws, totals.points, totals.probes);

    const index_t most = g.most_rows() + ri;
    summed_area_strip<std::int32_t> density(scored ? N : 0, h, most);
    window_valid_counts valid = valid_counts_over(t.run(), t.M, t.N, {0, M, 0, scored ? N : 0}, most);
    std::vector<std::int32_t> alive;
    std::vector<index_t> ordinals;
    std::uint64_t thinning = 0;
    index_t thinned = 0;
    // Point rows are thinned once their probes' label rows are all in.
    const auto points_final = [&](index_t b) { return b >= M ? M : std::max<index_t>(0, b - ri); };
    labels.start_pass(2 * ri);
    for_each_tile_row(g, M, h, labels, out, points_final, [&](index_t, index_t b, label_view band, raster_view<double> rows) {
        const index_t pa = thinned, pb = std::max(thinned, points_final(b));
        thinned = pb;
        // No point at all: every density is 0, but windows with nodata or cut
        // by the raster's edge still need their NaN.
        if (!scored || pb <= pa || !(probes || valid.varies())) return;
        alive.assign(static_cast<std::size_t>((pb - pa) * N), 0);
        // Column by column, as the density table reads them.
        const raster_view<std::int32_t> alive_rows{alive.data(), pb - pa, N, 1, pb - pa, pa, 0};
        if (probes) {
            // Each tile's points, then their thinning draws placed in raster order.
            std::vector<std::vector<point_row>> tile_points(static_cast<std::size_t>(C));
            const auto thin_at = count_and_place(g, pa, pb, tiles::thinning_start(totals) + thinning, thinning,
                                                 [&](index_t k, cell_block tb, index_t* n) {
                tile_points[k].resize(static_cast<std::size_t>(pb - pa));
                ordinals.assign(first_point[k].begin() + pa, first_point[k].begin() + pb);
                tiles::probe_points(t, band, tb, first_draw[k].data() + pa, ordinals.data(), &*probes,
                                    tile_points[k].data(), pool);
                for (index_t r = 0; r < pb - pa; ++r) n[r] = thinning_draws(tile_points[k][r]);
            });
            for (index_t k = 0; k < C; ++k)
                tiles::thin_points(t, tile_points[k].data(), pa, pb, thin_at[k].data(), alive_rows, pool);
        }
        density.start(pa, pb, pool);
        density.build(pa, pb, [&](index_t c, index_t r0, index_t r1, std::int32_t* dst) {
            const std::int32_t* point = &alive_rows(r0, c);
            std::copy(point, point + (r1 - r0), dst);
        }, pool);
        valid.build(band, pa, pb, pool);
        for (index_t k = 0; k < C; ++k)
            tiles::score_density(t, density.view(), valid, columns(rows, out_tile(g, k, rows)), pool);
    });
}

// Labels and output in memory.
class rows_in_memory final : public label_rows, public output_rows {
public:
    rows_in_memory(label_view labels, raster_view<double> out) : labels_(labels), out_(out) {}
    void start_pass(index_t kept) override { kept_ = kept; }
    label_view next(index_t a, index_t b) override { return labels_.band(std::max<index_t>(0, a - kept_), b); }
    raster_view<double> open(index_t r0, index_t r1) override { return out_.band(r0, r1); }
    void close(index_t, index_t, raster_view<double>) override {}

private:
    label_view labels_;
    raster_view<double> out_;
    index_t kept_ = 0;
};

// Labels read from a source and checked band by band; output rows written
// to a sink.
class streamed_rows final : public label_rows, public output_rows {
public:
    streamed_rows(const map_request& q, index_t M, index_t N, index_t strip_rows, label_source& source,
                  output_sink& sink)
        : q_(q), M_(M), N_(N), strip_rows_(strip_rows), block_(label_block(q, M, N)), source_(source),
          sink_(sink)
    {
    }
    void start_pass(index_t kept) override { band_.emplace(N_, std::min(kept, M_), strip_rows_); }
    label_view next(index_t a, index_t b) override
    {
        const label_view rows = band_->next(source_, a, b);
        if (const auto bad = find_bad_label(rows.band(a, b), label_count(q_), block_))
            throw invalid_request({problem_kind::label_out_of_range, bad->value, bad->row, bad->col});
        return rows;
    }
    raster_view<double> open(index_t r0, index_t r1) override
    {
        rows_.assign(static_cast<std::size_t>((r1 - r0) * N_), 0.0);
        return {rows_.data(), r1 - r0, N_, 1, r1 - r0, r0, 0};
    }
    void close(index_t r0, index_t r1, raster_view<double> rows) override
    {
        if (r1 > r0) sink_.write(r0, r1, rows);
    }

private:
    const map_request& q_;
    index_t M_, N_, strip_rows_;
    cell_block block_;
    label_source& source_;
    output_sink& sink_;
    std::optional<label_band> band_;
    std::vector<double> rows_;
};

index_t strip_rows_of(const run_options& options, const map_request& q, index_t M, index_t N)
{
    const index_t rows = options.strip_rows > 0 ? options.strip_rows : default_strip_rows(M, N, q.h);
    return std::max<index_t>(1, std::min(rows, M));
}

} // namespace

tile_cuts strips(index_t M, index_t N, index_t strip_rows)
{
    tile_cuts cuts{{0}, {0, N}};
    for (index_t a = 0; a < M;) cuts.rows.push_back(a = std::min(M, a + strip_rows));
    return cuts;
}

void run_tiles(const map_request& q, index_t M, index_t N, const tile_cuts& cuts, label_rows& labels,
               output_rows& out, worker_pool& pool)
{
    if (M <= 0 || N <= 0) return;
    const tiled_map t(q, M, N);
    const grid g{cuts};
    switch (entry_of(q.map).engine) {
    case map_engine::value_table: run_value_table(t, g, labels, out, pool); return;
    case map_engine::running_score: run_running_score(t, g, labels, out, pool); return;
    case map_engine::thinned_points: run_thinned_points(t, g, labels, out, pool); return;
    }
}

void run_tiled(const map_request& q, label_view labels, raster_view<double> out,
               const std::vector<index_t>& row_cuts, const std::vector<index_t>& col_cuts)
{
    if (auto problem = validate(q, labels)) throw invalid_request(*problem);
    worker_pool one(1);
    rows_in_memory rows(labels, out);
    run_tiles(q, labels.rows, labels.cols, {row_cuts, col_cuts}, rows, rows, one);
}

void run_map(const map_request& q, label_view labels, raster_view<double> out, const run_options& options)
{
    if (auto problem = validate(q, labels)) throw invalid_request(*problem);
    const index_t M = labels.rows, N = labels.cols;
    if (M <= 0 || N <= 0) return;
    worker_pool pool(options.threads, options.interrupted);
    rows_in_memory rows(labels, out);
    run_tiles(q, M, N, strips(M, N, strip_rows_of(options, q, M, N)), rows, rows, pool);
}

void stream_map(const map_request& q, index_t M, index_t N, label_source& source, output_sink& sink,
                const run_options& options)
{
    if (auto problem = check_request(q, M, N)) throw invalid_request(*problem);
    if (M <= 0 || N <= 0) return;
    worker_pool pool(options.threads, options.interrupted);
    const index_t strip_rows = strip_rows_of(options, q, M, N);
    streamed_rows rows(q, M, N, strip_rows, source, sink);
    run_tiles(q, M, N, strips(M, N, strip_rows), rows, rows, pool);
}

} // namespace rw
