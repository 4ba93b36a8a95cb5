// Square-root overlap map: every scored cell receives
//   sum over k of table[k - 1] * sqrt(n_k / (h * w))
// for its window, n_k being the window's count of label k. With the square
// roots of target class proportions in the table this is the Bhattacharyya
// coefficient between the target and the window's composition.
//
// The score is carried along each row of windows: the first window of a row
// is scored over all K classes, each later one from the last by the changes
// of the counts that move, read from tables of square roots. Those updates
// and their order fix the rounding, so they are kept as they are.
//
// Its windows differ from the other maps' in one way: the first window of
// every scored row (left column 10) is scored whenever it fits in the raster
// (N >= w + 10), even where the common geometry has no scored column
// (N < w + 21). Its score then lands at column 10 + w / 2.
#pragma once

#include "kernels/class_counts.hpp"
#include "kernels/strip_driver.hpp"
#include "kernels/valid_cells.hpp"
#include "maps/raster_maps.hpp"

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

// The scores of the windows with top row i and left columns j0 .. j_end-1,
// before the division by sqrt(h * w), into scores[j - j0]: as a row sweep
// from its first window, or with *carried, the score of the window left of
// j0, as the rest of a sweep. counts: K counts, all 0 on entry and return.
void ombrel_row_scores(label_view labels, const map_request& a, index_t i, index_t j0, index_t j_end,
                       const std::vector<double>& root, const std::vector<double>& step,
                       index_t* counts, const double* carried, double* scores);

class ombrel_map final : public strip_processor {
public:
    ombrel_map(const map_request& q, index_t M, index_t N, index_t strip_rows, worker_pool& pool);

    index_t label_rows_kept() const override { return q_.h - 1; }
    index_t output_rows_ready(index_t have) const override { return output_rows_final(M_, q_.h, have); }
    void advance(label_view band, index_t a, index_t b, output_view out) override;

private:
    map_request q_;
    index_t M_;
    scored_positions p_;
    std::vector<double> root_, step_;
    index_t rows_at_once_; // windows slid side by side
    zeroed_counts counts_; // rows_at_once_ histograms of K counts each
    window_valid_counts valid_;
    worker_pool& pool_;
};

} // namespace rw
