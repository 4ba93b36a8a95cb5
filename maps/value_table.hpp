// The engine of the maps scored from a summed-area table of per-cell values
// (Varnok, Marnisa, Sulmet). The tiles (tiles.cpp) build the table through
// summed_area_strip from these per-cell values and score its windows with
// the map's window scorer. A map brings its rules: whether cells are kept at
// random, and how a window is scored from its box sum, its valid count and
// labels.
#pragma once

#include "kernels/crt_rand.hpp"
#include "kernels/exact_sum.hpp"
#include "kernels/sampling.hpp"
#include "kernels/sliding_sums.hpp"
#include "kernels/valid_cells.hpp"
#include "maps/map_setup.hpp"

#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace rw {

class exact_value_table;

// What a cell of class value `value` and sampling threshold `threshold`
// adds to the sums when cells are kept at random: the value when kept, else
// 0 (all bits clear, +0.0 for a double). Takes the cell's draw from gen when
// the threshold is positive.
template <class T>
inline T sampled_value(std::int32_t threshold, T value, crt_rand& gen)
{
    const bool kept = sampling_test(threshold, gen);
    if constexpr (std::is_same_v<T, double>) {
        const std::uint64_t keep = -static_cast<std::uint64_t>(kept);
        return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) & keep);
    } else {
        return value & -static_cast<T>(kept);
    }
}

// Scores windows from the table of per-cell values.
class window_scorer {
public:
    virtual ~window_scorer() = default;
    // Label rows above a strip's first that score() reads, for windows of h rows.
    virtual index_t label_rows_read(index_t /*h*/) const { return 0; }
    // Scores the windows p into their centre cells of out. t holds the
    // table around them (see for_each_window_sum), valid their counts, and
    // labels their cells.
    virtual void score(label_view labels, raster_view<const double> t, const window_valid_counts& valid,
                       const scored_positions& p, raster_view<double> out, worker_pool& pool) = 0;
    // The same under exact arithmetic, from the exact sums of the values
    // (maps whose rules sum exactly).
    virtual void score_exact(label_view labels, const exact_value_table& sums, const window_valid_counts& valid,
                             const scored_positions& p, raster_view<double> out, worker_pool& pool) = 0;
};

struct value_rules {
    bool sampled; // a cell counts only when kept, its class value being the chance
    std::unique_ptr<window_scorer> (*make_scorer)(const map_request& run);
    // Under exact arithmetic, whether the windows are scored from exact
    // sums (exact_value_table, window_scorer::score_exact); otherwise the
    // scorer runs as under the plug-ins' arithmetic.
    bool sums_exactly = false;
    // Whether the scorer reads exact sums only through runs of windows
    // (exact_value_table::write_means, for_each_window_run), so that
    // rectangles may slide them.
    bool reads_runs = false;
};

// The mean of the window's values over its cells (or valid cells).
std::unique_ptr<window_scorer> make_mean_scorer(const map_request& run);

// The per-cell values of a map's table: each cell's class value, or, when
// sampled, the class value of a kept cell and 0 for the others, each row
// drawing from its own copy of the generator. The class values are the
// table's doubles, or under exact arithmetic their integers at the common
// scale (one digit of them).
template <class T>
class cell_values {
public:
    // table: the classes' values; thresholds: their sampling thresholds
    // when cells are kept at random, else nullptr.
    cell_values(const T* table, const std::int32_t* thresholds, std::uint32_t seed)
        : table_(table), thresholds_(thresholds), seed_(seed)
    {
    }

    // Rows r0 .. r0+n-1 take their first draws at generator positions
    // start[0 .. n-1] (sampled maps only).
    void place_rows(index_t r0, const std::uint64_t* start, index_t n)
    {
        first_row_ = r0;
        rows_.assign(static_cast<std::size_t>(n), crt_rand(seed_));
        for (index_t k = 0; k < n; ++k) rows_[k].discard(start[k]);
    }

    // The values of cells (r0 .. r1-1, c) of band into dst; rows placed.
    void operator()(label_view band, index_t c, index_t r0, index_t r1, T* dst)
    {
        const T* table = table_;
        if (!thresholds_) {
            for_each_down(band, c, r0, r1, [&](index_t k, std::int32_t l) { dst[k] = table[l - 1]; });
            return;
        }
        const std::int32_t* thresholds = thresholds_;
        crt_rand* gen = rows_.data() + (r0 - first_row_);
        for_each_down(band, c, r0, r1, [&](index_t k, std::int32_t l) {
            dst[k] = sampled_value(thresholds[l - 1], table[l - 1], gen[k]);
        });
    }

private:
    const T* table_;
    const std::int32_t* thresholds_;
    std::uint32_t seed_;
    index_t first_row_ = 0;
    std::vector<crt_rand> rows_;
};

// The values a run may add to its sums at a common scale (exact_sum.hpp):
// every class value, or, when sampled, those of the classes that can be
// kept (thresholds positive). Windows hold at most h * w cells.
value_scale exact_scale_of(const map_request& run, const std::int32_t* thresholds);

// The exact sums of a value map under exact arithmetic: one wrapping
// 128-bit summed-area table per digit of the scale, over the columns of a
// block from its first row, built strip by strip like the double table.
// Integer box sums need no carry from other tiles to be exact, so a tile
// on its own sums its halo from scratch and gets the same window sums.
//
// A map whose windows are rectangles and whose scores are the means of
// their sums (write_means) slides its sums instead (sliding_sums.hpp), when
// its values and windows are small enough for that (most are): the same
// sums, at a fraction of the cost.
class exact_value_table {
public:
    // How the sums may slide: not at all; over the labels; over the classes
    // of the kept cells, for maps that keep cells at random.
    enum class sliding { none, over_labels, over_kept_cells };

    // For the classes of run (their values being among the scale's). The
    // sums slide as `slide` allows (sliding::none unless the map's windows
    // are rectangles and its scorer reads the sums through runs only) when
    // the values and windows are small enough.
    exact_value_table(const value_scale& scale, const map_request& run, cell_block b, index_t keep,
                      index_t strip_rows, sliding slide = sliding::none);

    // How the sums slide (then only write_means and for_each_window_run
    // read them, and only build_classes builds them, over kept cells).
    sliding slides() const { return slide_; }
    // The sums sliding: sliding_value_sums::for_each_window_run over the
    // windows p of `layout` (labels: those of their cells).
    template <class WriteRun>
    void for_each_window_run(label_view labels, const scored_positions& p, const window_layout& layout,
                             WriteRun&& write_run, worker_pool& pool) const
    {
        sliding_->for_each_window_run(slide_ == sliding::over_labels ? labels : sliding_->kept_classes(), p, layout,
                                      write_run, pool);
    }
    // Sliding over kept cells: each class's own number, class k at [k - 1]
    // (the values a kept cell gives build_classes).
    const std::int32_t* class_ids() const { return class_ids_.data(); }
    // Sliding over kept cells: sets the classes of tile b's cells in rows
    // b.r0 .. b.r1-1, started; fill as in sliding_value_sums::build.
    template <class Fill>
    void build_classes(cell_block b, Fill&& fill, worker_pool& pool)
    {
        sliding_->build(b.r0, b.r1, b.c0, b.c1, fill, pool);
    }

    int digits() const { return scale_->digits(); }
    const value_scale& scale() const { return *scale_; }
    // Digit d's sum over the window of the given layout with top-left (i, j).
    wide_sum window_sum(int d, index_t i, index_t j, const window_layout& layout) const
    {
        if (layout.rectangle) return digit_tables_[d].window_sum(i, j, layout.h, layout.w);
        return footprint_sum(digit_tables_[d].view(), i, j, layout);
    }
    // The same for many windows of one layout (not a rectangle), read as
    // the table now stands.
    footprint_sums<wide_sum> window_sums(int d, const window_layout& layout) const
    {
        return footprint_sums<wide_sum>(digit_tables_[d].view(), layout);
    }
    // Digit d of every class value, class k at [k - 1].
    const wide_sum* class_digits(int d) const { return class_digits_.data() + d * K_; }
    // Makes room for rows a .. b-1 (see summed_area_strip::start).
    void start(index_t a, index_t b, worker_pool& pool);
    // Adds the cells of tile b to rows b.r0 .. b.r1-1 of the table:
    // fill(d, c, r0, r1, dst) writes digit d of the values of cells (r0 ..
    // r1-1, c) to dst. left and right: the running row sums at the columns
    // either side, digit d of row r at [d * rows + r - b.r0] (left unused
    // for the block's first column).
    template <class Fill>
    void build(cell_block b, Fill&& fill, const wide_sum* left, wide_sum* right, worker_pool& pool)
    {
        const index_t rows = b.r1 - b.r0;
        const bool carried = b.c0 > block_.c0;
        for (int d = 0; d < digits(); ++d)
            digit_tables_[d].build(b.r0, b.r1, [&](index_t c, index_t r0, index_t r1, wide_sum* dst) {
                fill(d, c, r0, r1, dst);
            }, pool, carried ? left + d * rows : nullptr, right ? right + d * rows : nullptr, {b.c0, b.c1});
    }
    // The same from the cells' values (a view with its cells' coordinates).
    void build(raster_view<const double> values, cell_block b, const wide_sum* left, wide_sum* right,
               worker_pool& pool);
    // Writes the correctly rounded mean of every window of p (over the
    // cells of valid's layout, or its valid ones) at its centre cell of
    // out; NaN for windows with too few valid cells. labels: those of the
    // windows' cells.
    void write_means(label_view labels, const window_valid_counts& valid, const scored_positions& p, raster_view<double> out,
                     worker_pool& pool) const;

private:
    const value_scale* scale_;
    cell_block block_;
    index_t K_;
    const double* run_table_; // the classes' values
    std::vector<wide_sum> class_digits_;
    std::vector<summed_area_strip<wide_sum>> digit_tables_;
    sliding slide_ = sliding::none;
    std::optional<sliding_value_sums> sliding_;
    std::vector<std::int32_t> class_ids_;
};

} // namespace rw
