// Square-root overlap map: every scored cell receives
//   sum over k of table[k - 1] * sqrt(n_k / (h * w))
// for its window, n_k being the window's count of label k. With the square
// roots of target class proportions in the table this is the Bhattacharyya
// coefficient between the target and the window's composition.
//
// The score is carried along each row of windows: the first window of a row
// is scored over all K classes, each later one from the last by the changes
// of the counts that move, read from tables of square roots. Those updates
// and their order fix the rounding of the plug-ins' arithmetic, so they are
// kept as they are; exact arithmetic sums the same terms exactly instead.
//
// Its windows differ from the other maps' in one way: the first window of
// every scored row (left column 10) is scored whenever it fits in the raster
// (N >= w + 10), even where the common geometry has no scored column
// (N < w + 21). Its score then lands at column 10 + w / 2.
#pragma once

#include "kernels/class_counts.hpp"
#include "kernels/exact_sum.hpp"
#include "kernels/valid_cells.hpp"
#include "maps/raster_maps.hpp"

#include <optional>
#include <vector>

namespace rw {

// The windows Ombrel scores.
scored_positions ombrel_positions(index_t M, index_t N, index_t h, index_t w);

// The cells Ombrel reads: rows 10 .. M-12 and columns 10 .. N-12
// (10 .. w+9 while N <= w + 21), or none when no window is scored.
cell_block ombrel_read_block(index_t M, index_t N, index_t h, index_t w);

// root[c] = sqrt(c) and step[c] = root[c] - root[c - 1] for c = 0 .. n (the
// change of sqrt(count) when a count moves between c - 1 and c; step[0] = 0).
void ombrel_root_tables(index_t n, std::vector<double>& root, std::vector<double>& step);

// The first score of a row of windows, before the division by sqrt(h * w):
// sum over k of table[k] * root[count[k]], k increasing. present lists each
// class of the window once (needed only when K > h * w); it is sorted.
double ombrel_direct_score(const map_request& a, const index_t* count, std::vector<index_t>& present,
                           const std::vector<double>& root);

// Under exact arithmetic the undivided score of a window is the exact sum,
// over its classes, of term(k, c_k): table[k] * sqrt(c_k) rounded to a
// double (the terms of the plug-ins' first window), held as integers at a
// common scale (exact_sum.hpp). Adding and removing terms as counts change
// is then exact, so a score depends on the window's counts alone, never on
// where a sweep started or on its order, and one rounding gives the double
// nearest the sum.
class exact_root_terms {
public:
    // root: the square roots of the counts 0 .. h * w (ombrel_root_tables).
    exact_root_terms(const map_request& q, const std::vector<double>& root);

    int digits() const { return scale_.digits(); }

    // Adds to sum (one word per digit) what class k's term gains as its
    // count rises from c - 1 to c, or, with `fall`, loses as it falls from
    // c to c - 1.
    void rise(wide_sum* sum, index_t k, index_t c, bool fall = false) const
    {
        if (tabled()) {
            const wide_sum change = value_scale::word_of_split(rise_high(k, c), rise_low(k, c));
            sum[0] += fall ? -change : change;
            return;
        }
        if (!rise_words_.empty()) {
            const wide_sum change = rise_words_[k * stride_ + c];
            sum[0] += fall ? -change : change;
            return;
        }
        for (int d = 0; d < scale_.digits(); ++d) {
            const wide_sum change = digit_rise(k, c, d);
            sum[d] += fall ? -change : change;
        }
    }

    // Whether every rise is tabled, split as rise_high 2^32 + rise_low
    // (value_scale::value_of_split): then a window's sum is two 64-bit
    // words, the sums of the halves, that need no carry between them.
    bool tabled() const { return !rise_high_.empty(); }
    std::uint64_t rise_high(index_t k, index_t c) const { return rise_high_[k * stride_ + c]; }
    std::uint64_t rise_low(index_t k, index_t c) const { return rise_low_[k * stride_ + c]; }

    // The double nearest the sum.
    double value(const wide_sum* sum) const { return digits() == 1 ? scale_.value_of_word(*sum) : scale_.mean(sum, 1); }
    // The same for a sum of tabled rises.
    double value(std::uint64_t high, std::uint64_t low) const { return scale_.value_of_split(high, low); }

private:
    wide_sum digit_rise(index_t k, index_t c, int d) const
    {
        return scale_.digit(table_[k] * root_[c], d) - scale_.digit(table_[k] * root_[c - 1], d);
    }

    const double* table_;
    const double* root_;
    value_scale scale_;
    // Every rise, class k's at [k * stride_ + c], for one digit and up to
    // 16 MB (a table read at random beats computing each rise even from
    // main memory): split in halves while window sums stay below 2^85, else
    // as whole words; beyond that they are computed as they come.
    std::vector<std::uint64_t> rise_high_, rise_low_;
    std::vector<wide_sum> rise_words_;
    index_t stride_ = 0;
};

// Scores windows along rows: the first window of each row directly, each
// later one carried on from its left neighbour. One per map run or tile,
// shared by its threads.
class ombrel_windows {
public:
    explicit ombrel_windows(const map_request& q);

    // Scores the windows p into their centre cells of out, divided by the
    // root of their cell count (or valid count). carried, when given, holds
    // per top row the undivided score of the window left of p.j0, from
    // which the row's sweep goes on; last, when given, receives per top row
    // the undivided score of its last window. Under exact arithmetic every
    // row starts afresh and no score needs carrying.
    void score(label_view labels, const window_valid_counts& valid, const scored_positions& p,
               const double* carried, double* last, raster_view<double> out, worker_pool& pool);

private:
    // The rows of windows p, each a sweep from carried (or afresh).
    void sweep(label_view labels, const window_valid_counts& valid, const scored_positions& p,
               const double* carried, double* last, raster_view<double> out, worker_pool& pool);

    map_request q_;
    std::vector<double> root_, step_;
    std::optional<exact_root_terms> exact_;
    index_t rows_at_once_; // windows slid side by side
    zeroed_counts counts_; // rows_at_once_ histograms of K counts each
};

} // namespace rw
