// Thinned point-density map. Random points are scattered over the inner part
// of the raster, one chance per cell with its class's sampling threshold;
// each point is then removed with a chance that grows with the number of
// same-class cells its probes find around it; each scored cell receives the
// fraction of its window's cells that hold a surviving point.
//
// The draws come in a fixed order, which with the seed decides everything:
// the sampling pass (one draw per region cell of positive threshold, row by
// row), then the probe pool (a row draw and a column draw per entry, n + P
// entries for n points), then the thinning (one draw per point with a
// same-class probe, in point order). Point j probes with pool entries
// j .. j+P-1. Since the probe count P needs n, a first pass counts the
// points row by row; the second pass samples each row again from the same
// draws, regenerates the pool entries its points need by moving a copy of
// the generator ahead, and thins.
#pragma once

#include "kernels/crt_rand.hpp"
#include "kernels/worker_pool.hpp"
#include "maps/raster_maps.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace rw {

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
// product is formed exactly. Throws std::bad_alloc when the P pool entries
// (two 32-bit offsets each) that a single point probes with would take more
// than half this machine's memory: such a call could never be worked
// through, and a caller that holds a point's entries would leave no room
// for anything else. The n entries the points add are never held at once,
// so no raster is refused for its number of points.
index_t probe_count(std::int32_t probes_per_cell, index_t M, index_t N, index_t n);

// Keep threshold of a point whose same-class estimate is e:
// trunc(32767 / sqrt(e)), so a point survives with chance about 1 / sqrt(e).
// e = 0 (same-class probes too few to count) gives 32767, as e = 1 does: the
// fewer same-class neighbours, the likelier a point survives.
std::int32_t keep_threshold(index_t e);

// Same-class estimate of a point l of whose P probes found its class:
// (area * l) div P, area being the window's h * w cells; exact for any sizes.
index_t same_class_estimate(index_t area, index_t l, index_t P);

// A probe pool entry: two draws, a row offset in -ri..ri, then a column
// offset in -rj..rj. A draw is below 32768, so its remainder is the same
// modulo min(2r + 1, 32768), which keeps the division in 32 bits.
class probe_offset_draw {
public:
    probe_offset_draw(index_t ri, index_t rj) : ri_(ri), rj_(rj), row_span_(span(ri)), col_span_(span(rj)) {}

    struct offset {
        index_t dr, dc;
    };
    offset operator()(crt_rand& gen) const
    {
        const index_t dr = static_cast<index_t>(static_cast<std::uint32_t>(gen()) % row_span_) - ri_;
        const index_t dc = static_cast<index_t>(static_cast<std::uint32_t>(gen()) % col_span_) - rj_;
        return {dr, dc};
    }

private:
    static std::uint32_t span(index_t reach)
    {
        return static_cast<std::uint32_t>(reach < 16384 ? 2 * reach + 1 : 32768);
    }
    index_t ri_, rj_;
    std::uint32_t row_span_, col_span_;
};

// The first thinning draw, after the sampling draws and the probe pool of
// n + P entries for n points.
inline std::uint64_t thinning_start(std::uint64_t draws, std::uint64_t points, std::uint64_t P)
{
    return draws + 2 * (points + P);
}

// The probing of the points, once the sampling pass has counted its draws
// and its points (hence P, the probes per point). Point t of a row's points,
// of ordinal first + t, probes with pool entries first + t .. first + t + P - 1,
// entry e being the two draws 2e and 2e + 1 after the sampling draws.
class point_probes {
public:
    point_probes(const map_request& q, index_t draws, index_t points, index_t P);

    // The first thinning draw, after the sampling draws and the pool.
    std::uint64_t thinning_start() const
    {
        return rw::thinning_start(pool_start_, static_cast<std::uint64_t>(points_), static_cast<std::uint64_t>(P_));
    }

    // keep[t] for the m points of row r at columns cols[t], the first of
    // ordinal `first`: its keep threshold, or -1 when none of its probes
    // found its class (it keeps, without a draw). labels must reach the
    // probes. pool is scratch; poll() is called between runs of probes.
    void keep_thresholds(label_view labels, index_t r, const index_t* cols, index_t m, index_t first,
                         std::int32_t* keep, std::vector<index_t>& pool,
                         const std::function<void()>& poll) const;

private:
    std::int32_t keep_of(index_t same) const;

    std::uint32_t seed_;
    index_t area_, points_, P_;
    std::uint64_t pool_start_;
    probe_offset_draw draw_;
    std::vector<std::int32_t> keep_; // keep threshold by same-class count, when P is small
};

// Whether a point of keep threshold `keep` survives: -1 (no same-class
// probe) always, without a draw; otherwise when the draw is not above the
// threshold, so a draw equal to it keeps the point and 32767 always keeps.
inline bool survives(std::int32_t keep, crt_rand& gen) { return keep < 0 || !(keep < gen()); }

// The points of block b that row r's draws keep, row r drawing from
// position draw_start[r - b.r0] on: points[r - b.r0] gets their number.
void count_points(label_view labels, const std::int32_t* thresholds, std::uint32_t seed, cell_block b,
                  const std::uint64_t* draw_start, index_t* points, worker_pool& pool);

// The points of one row: their columns and keep thresholds.
struct point_row {
    std::vector<index_t> cols;
    std::vector<std::int32_t> keep;
};

// Samples the points of block b again (as count_points) and probes them:
// rows[r - b.r0] receives row r's points, the first of ordinal
// first_point[r - b.r0]. labels must reach the probes.
void probe_rows(label_view labels, const std::int32_t* thresholds, std::uint32_t seed, cell_block b,
                const std::uint64_t* draw_start, const std::uint64_t* first_point,
                const point_probes& probes, point_row* rows, worker_pool& pool);

// The thinning draws a row of points takes: one per point with a
// same-class probe.
index_t thinning_draws(const point_row& row);

} // namespace rw
