// Thinned point-density map. Random points are scattered over the inner part
// of the raster, one chance per cell with its class's sampling threshold;
// each point is then removed with a chance that grows with the number of
// same-class cells its probes find around it; each scored cell receives the
// fraction of its window's cells that hold a surviving point.
//
// The draws come in a fixed order, which with the seed decides everything:
// the sampling pass (one draw per region cell of positive threshold, row by
// row), then the probe pool (a row draw and a column draw per entry), then
// the thinning (one draw per point with a same-class probe, in point order).
#pragma once

#include "kernels/label_check.hpp"
#include "kernels/raster_window.hpp"
#include "kernels/sampling.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace rw {

inline constexpr std::int32_t default_probes_per_cell = 12;

// How far a probe reaches from its point along a window side of the given
// size: trunc(0.85 * (size / 2)), size / 2 an integer division.
index_t probe_reach(index_t size);

// The cells that may hold a point: rows ri+1 .. M-ri-2 and columns
// rj+1 .. N-rj-2, ri and rj being the probe reaches of h and w. Every probe
// from such a cell lands inside rows 1..M-2 and columns 1..N-2, so probes
// need no bounds test.
cell_block sampling_region(index_t M, index_t N, index_t h, index_t w);

// Probes per point, (probes_per_cell * M * N) div n for n >= 1 points, so
// that all points together make at most probes_per_cell * M * N probes. The
// product is formed exactly. Throws std::bad_alloc when the probe pool of
// n + P entries could never be allocated.
index_t probe_count(std::int32_t probes_per_cell, index_t M, index_t N, index_t n);

// Keep threshold of a point whose same-class estimate is e:
// trunc(32767 / sqrt(e)), so a point survives with chance about 1 / sqrt(e).
// e = 0 (same-class probes too few to count) gives 32767, as e = 1 does: the
// fewer same-class neighbours, the likelier a point survives.
std::int32_t keep_threshold(index_t e);

// Same-class estimate of a point l of whose P probes found its class:
// (area * l) div P, area being the window's h * w cells; exact for any sizes.
index_t same_class_estimate(index_t area, index_t l, index_t P);

namespace dravix_detail {

// Point raster states during the thinning: no point, a point that keeps
// without a draw, and a point waiting for its draw, stored as
// awaiting_draw + its keep threshold.
inline constexpr std::int32_t no_point = 0, point = 1, awaiting_draw = 2;

} // namespace dravix_detail

// The point pass: returns the M x N point raster, 1 where a point survives
// and 0 elsewhere. thresholds is the threshold table of a.table; gen is the
// call's generator, already seeded. probes_per_cell must be 0 or more.
// Needs the labels of the sampling region in 1..K; other labels are only
// compared. Scratch besides the raster: the probe pool (n + P linear
// offsets), h * w + 1 keep thresholds and a few numbers per row.
template <class Generator>
std::vector<std::int32_t> dravix_points(const raster_args& a, const std::int32_t* thresholds,
                                        std::int32_t probes_per_cell, Generator& gen)
{
    using namespace dravix_detail;
    std::vector<std::int32_t> points(static_cast<std::size_t>(a.M * a.N), no_point);
    const cell_block region = sampling_region(a.M, a.N, a.h, a.w);
    if (region.r1 <= region.r0 || region.c1 <= region.c0) return points;
    const index_t M = a.M;
    const std::int32_t* labels = a.labels;

    // Points are numbered in row order, the order the sampling pass decides
    // them in; a row's first number follows from the counts of the rows above.
    std::vector<index_t> ordinal(static_cast<std::size_t>(region.r1 - region.r0), 0);
    sampling_pass(labels, M, region, thresholds, gen, [&](index_t k, index_t r, std::int32_t) {
        points[k] = point;
        ++ordinal[r - region.r0];
    });
    index_t n = 0;
    for (index_t& first : ordinal) {
        const index_t in_row = first;
        first = n;
        n += in_row;
    }
    if (n == 0) return points;

    // Point j probes the cells at offsets pool[j .. j+P-1] from itself, so
    // n + P entries serve n points of P probes each.
    const index_t P = probe_count(probes_per_cell, a.M, a.N, n);
    const index_t ri = probe_reach(a.h), rj = probe_reach(a.w);
    // A draw is below 32768, so its remainder is the same modulo
    // min(2r + 1, 32768), which keeps the division in 32 bits.
    const auto span = [](index_t reach) {
        return static_cast<std::uint32_t>(std::min<index_t>(2 * reach + 1, 32768));
    };
    const std::uint32_t row_span = span(ri), col_span = span(rj);
    std::vector<index_t> pool(static_cast<std::size_t>(n + P));
    for (index_t& offset : pool) {
        const index_t dr = static_cast<index_t>(static_cast<std::uint32_t>(gen()) % row_span) - ri;
        const index_t dc = static_cast<index_t>(static_cast<std::uint32_t>(gen()) % col_span) - rj;
        offset = dr + M * dc;
    }
    if (P == 0) return points; // no probes: every point keeps, without a draw

    // Keep threshold by same-class estimate e: since l <= P, e <= h * w.
    const index_t area = a.h * a.w;
    std::vector<std::int32_t> keep(static_cast<std::size_t>(area + 1));
    for (index_t e = 0; e <= area; ++e) keep[e] = keep_threshold(e);

    // Count each point's same-class probes. Counts read only labels and the
    // pool, so removing one point never changes another's count, and the
    // draws can wait for a second walk, once each row's number of draws is
    // known. The points of a row read consecutive runs of the pool, so a band
    // of rows walked column by column reads the pool as a few sequential
    // streams, and its probes land close together.
    constexpr index_t band = 32;
    std::vector<index_t> draws(ordinal.size(), 0);
    for (index_t top = region.r0; top < region.r1; top += band) {
        const index_t bottom = std::min(top + band, region.r1);
        for (index_t c = region.c0; c < region.c1; ++c)
            for (index_t r = top; r < bottom; ++r) {
                const index_t k = r + M * c;
                if (points[k] == no_point) continue;
                const index_t* probe = pool.data() + ordinal[r - region.r0]++;
                const std::int32_t own = labels[k];
                index_t l = 0;
                for (index_t m = 0; m < P; ++m) l += labels[k + probe[m]] == own;
                if (l == 0) continue; // no same-class probe: keeps, without a draw
                points[k] = awaiting_draw + keep[same_class_estimate(area, l, P)];
                ++draws[r - region.r0];
            }
    }
    // A point goes when its keep threshold is below the draw: a draw equal to
    // the threshold keeps it, so a threshold of 32767 always keeps.
    std::vector<Generator> streams = row_streams(gen, draws);
    for (index_t c = region.c0; c < region.c1; ++c)
        for (index_t r = region.r0; r < region.r1; ++r) {
            std::int32_t& cell = points[r + M * c];
            if (cell < awaiting_draw) continue;
            const std::int32_t keep_threshold = cell - awaiting_draw;
            cell = keep_threshold < streams[r - region.r0]() ? no_point : point;
        }
    return points;
}

// The density pass: turns the point raster into its summed-area table in
// place and writes, for every scored window, the fraction of its cells that
// hold a point into a.out (M x N, zero on entry).
void dravix_density(std::int32_t* points, const raster_args& a);

} // namespace rw
