// Squared-difference similarity map: every scored cell receives one minus
// half the squared difference between the class table, read as target class
// proportions, and the class proportions of its window:
//   1 - 0.5 * sum over k of (n_k / (h * w) - table[k - 1])^2,
// expanded as sum q_k^2 - 2 sum q_k p_k + sum p_k^2: the window square sum
// sum n_k^2 from a sliding class-count histogram (exact integers), sum n_k p_k
// as the window box sum of the class values, sum p_k^2 once per call.
#pragma once

#include "kernels/class_counts.hpp"
#include "kernels/double_double.hpp"
#include "kernels/exact_sum.hpp"
#include "maps/raster_maps.hpp"

#include <cstdint>
#include <functional>
#include <vector>

namespace rw {

// Sum of the squares of the class table, added class by class in order.
double table_square_sum(const map_request& q);

// The score of a window of `cells` cells (h * w, or its valid cells) with
// window square sum `squares` and value box sum `box`, P being the table's
// square sum: t1 = squares / cells^2, t2 = (2 box) / cells,
// 1 - 0.5 ((t1 - t2) + P). cells_squared is cells^2 rounded once.
inline double sulmet_score(std::int64_t squares, double box, double cells, double cells_squared,
                           double P)
{
    const double t1 = static_cast<double>(squares) / cells_squared;
    const double t2 = (2.0 * box) / cells;
    return 1.0 - 0.5 * ((t1 - t2) + P);
}

// Under exact arithmetic: the table's square sum P in double-double, and
// the score of a window of `cells` cells from its exact square sum and its
// box sum as a double-double, 1 - 0.5 (squares / cells^2 - 2 box / cells +
// P), rounded once. Within 2^-100 (1 + 2 |box| / cells + P) of the exact
// score plus half an ulp; a window whose proportions equal the table gets 1.
double_double exact_table_square_sum(const map_request& q);
class exact_sulmet_scores {
public:
    explicit exact_sulmet_scores(const map_request& q);
    double operator()(std::int64_t squares, double_double box, index_t cells) const;
    // The same for windows 0 .. n-1 into scores: squares[k] below 2^52,
    // the box sum high[k] 2^32 + low[k] at `scale` (a sliding sum, see
    // value_scale::sum_of_split). Several windows at once.
    void operator()(const std::int64_t* squares, const std::uint64_t* high, const std::uint64_t* low,
                    const value_scale& scale, const index_t* cells, double* scores, index_t n) const;

private:
    static double_double inverse_square(index_t cells);

    double_double table_square_sum_;
    index_t cells_;         // the window's
    double_double inverse_; // 1 / cells_^2
};

// Window square sums, sum over k of n_k^2, of the windows with top rows
// i0 .. i1-1 and left columns j0 .. j_end-1, that of (i, j) going to
// q[(i - i0) + (j - j0) * stride]. They are exact integers, so every way of
// counting them gives the same: by column counts (K per window) when that is
// cheaper than sliding a histogram along each row (2h per window) and its
// 32-bit sums are exact, else by sliding histograms, which touch only the
// classes present. One per map run, shared by its threads.
class window_square_sums {
public:
    explicit window_square_sums(const map_request& a);

    // poll() is called now and then, between rows of windows.
    void operator()(label_view labels, const window_layout& layout, index_t i0, index_t i1, index_t j0,
                    index_t j_end, std::int64_t* q, index_t stride, const std::function<void()>& poll);

private:
    map_request a_;
    bool by_columns_;
    index_t rows_at_once_; // histograms slid side by side
    zeroed_counts counts_; // rows_at_once_ histograms of K counts each
};

} // namespace rw
