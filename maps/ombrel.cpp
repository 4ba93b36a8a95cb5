#include "ombrel.hpp"

#include "kernels/class_counts.hpp"
#include "catalogue.hpp"
#include "value_table.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

namespace rw {
namespace {

// Scores the windows with top rows i .. i + R - 1 and left columns
// j0 <= j < j_end, before the division by sqrt(h * w), and hands each to
// put(g, j, score) for top row i + g. The first window of a row is counted
// and scored directly over all K classes; each later one carries the score
// on, so nothing passes from one row to the next. Each row makes its updates
// in the same order, with the same operands, as a sweep of that row alone.
// A sweep may also start inside a row, from carried[g], the score of the
// window left of j0 (a tile of the raster takes it from its left neighbour);
// last[g], when given, receives the score of the row's last window.
// counts holds R all-0 histograms of K entries on entry, and again on
// return.
template <index_t R, class Put>
void row_sweeps(label_view labels, const map_request& a, index_t i, index_t j0, index_t j_end,
                const std::vector<double>& root, const std::vector<double>& step,
                index_t* counts, std::vector<index_t>& present, const double* carried, double* last,
                Put&& put)
{
    index_t* count[R];
    double score[R];
    const bool list_present = a.K > a.h * a.w;
    for (index_t g = 0; g < R; ++g) {
        count[g] = counts + g * a.K;
        if (carried) {
            count_window(labels, a.h, a.w, i + g, j0 - 1, count[g], [](index_t, index_t) {});
            score[g] = carried[g];
            continue;
        }
        present.clear();
        count_window(labels, a.h, a.w, i + g, j0, count[g], [&](index_t k, index_t c) {
            if (list_present && c == 1) present.push_back(k);
        });
        score[g] = ombrel_direct_score(a, count[g], present, root);
        put(g, j0, score[g]);
    }
    // Each change of a count reads the step at the larger of the two counts.
    for (index_t j = carried ? j0 : j0 + 1; j < j_end; ++j) {
        slide_right<R>(
            labels, a.h, a.w, i, j,
            [&](index_t g, index_t k) {
                score[g] = score[g] - a.table[k] * step[count[g][k]];
                --count[g][k];
            },
            [&](index_t g, index_t k) {
                ++count[g][k];
                score[g] = score[g] + a.table[k] * step[count[g][k]];
            });
        for (index_t g = 0; g < R; ++g) put(g, j, score[g]);
    }
    if (last)
        for (index_t g = 0; g < R; ++g) last[g] = score[g];
    for (index_t g = 0; g < R; ++g) clear_counts(labels, a.K, a.h, a.w, i + g, j_end - 1, count[g]);
}

// The same windows under exact arithmetic: each count that changes adds or
// takes away its term's rise, in exact units, whatever the order. Sums of
// one word from tabled rises are kept in locals, the common and fast case.
template <index_t R, bool tabled, class Put>
void exact_row_sweeps(label_view labels, const map_request& a, index_t i, index_t j0, index_t j_end,
                      const exact_root_terms& terms, index_t* counts, wide_sum* sums, Put&& put)
{
    const int D = tabled ? 1 : terms.digits();
    index_t* count[R];
    // Tabled sums as the sums of the rises' halves, each in a word of its
    // own, with no carry between them.
    std::uint64_t low[R], high[R];
    wide_sum* sum[R];
    const auto rise = [&](index_t g, index_t k, index_t c) {
        if constexpr (tabled) {
            high[g] += terms.rise_high(k, c);
            low[g] += terms.rise_low(k, c);
        } else {
            terms.rise(sum[g], k, c);
        }
    };
    const auto fall = [&](index_t g, index_t k, index_t c) {
        if constexpr (tabled) {
            high[g] -= terms.rise_high(k, c);
            low[g] -= terms.rise_low(k, c);
        } else {
            terms.rise(sum[g], k, c, true);
        }
    };
    const auto value = [&](index_t g) {
        if constexpr (tabled)
            return terms.value(high[g], low[g]);
        else
            return terms.value(sum[g]);
    };
    for (index_t g = 0; g < R; ++g) {
        count[g] = counts + g * a.K;
        low[g] = high[g] = 0;
        sum[g] = sums + g * D;
        std::fill(sum[g], sum[g] + D, wide_sum{0});
        count_window(labels, a.h, a.w, i + g, j0, count[g], [&](index_t k, index_t c) { rise(g, k, c); });
        put(g, j0, value(g));
    }
    for (index_t j = j0 + 1; j < j_end; ++j) {
        slide_right<R>(
            labels, a.h, a.w, i, j,
            [&](index_t g, index_t k) {
                index_t& c = count[g][k];
                fall(g, k, c);
                --c;
            },
            [&](index_t g, index_t k) {
                index_t& c = count[g][k];
                ++c;
                rise(g, k, c);
            });
        for (index_t g = 0; g < R; ++g) put(g, j, value(g));
    }
    for (index_t g = 0; g < R; ++g) clear_counts(labels, a.K, a.h, a.w, i + g, j_end - 1, count[g]);
}

// The same for one row of windows of any layout.
template <bool tabled, class Put>
void exact_footprint_sweep(label_view labels, const map_request& a, const window_layout& layout, index_t i,
                           index_t j0, index_t j_end, const exact_root_terms& terms, index_t* count, wide_sum* sum,
                           Put&& put)
{
    std::uint64_t high = 0, low = 0; // tabled: as in exact_row_sweeps
    const auto move = [&](index_t k, index_t c, bool fall) {
        if constexpr (tabled) {
            high += fall ? -terms.rise_high(k, c) : terms.rise_high(k, c);
            low += fall ? -terms.rise_low(k, c) : terms.rise_low(k, c);
        } else {
            terms.rise(sum, k, c, fall);
        }
    };
    const auto value = [&] {
        if constexpr (tabled)
            return terms.value(high, low);
        else
            return terms.value(sum);
    };
    std::fill(sum, sum + terms.digits(), wide_sum{0});
    count_footprint(labels, layout, i, j0, count, [&](index_t k, index_t c) { move(k, c, false); });
    put(0, j0, value());
    for (index_t j = j0 + 1; j < j_end; ++j) {
        slide_footprint_right(
            labels, layout, i, j,
            [&](index_t k) {
                index_t& c = count[k];
                move(k, c, true);
                --c;
            },
            [&](index_t k) {
                index_t& c = count[k];
                ++c;
                move(k, c, false);
            });
        put(0, j, value());
    }
    clear_footprint_counts(labels, layout, a.K, i, j_end - 1, count);
}

} // namespace

exact_root_terms::exact_root_terms(const map_request& q, const std::vector<double>& root)
    : table_(q.table), root_(root.data())
{
    double largest = 0.0, smallest = INFINITY;
    for (index_t k = 0; k < q.K; ++k)
        if (q.table[k] != 0) {
            largest = std::max(largest, std::fabs(q.table[k]));
            smallest = std::min(smallest, std::fabs(q.table[k]));
        }
    if (largest == 0) return;
    // A term of class value t and count c >= 1 is at least |t| (its root is
    // at least 1), so its lowest bit is at least 2^(ilogb |t| - 52), or the
    // subnormals' 2^-1074; and it is below 2^(ilogb max|t| + 1) sqrt(h * w).
    // A window adds at most h * w terms.
    const index_t cells = static_cast<index_t>(root.size()) - 1;
    const int low = std::max(-1074, std::ilogb(smallest) - 52);
    const int high = std::ilogb(largest) + 3 + std::ilogb(root.back()); // one more for rounding up
    scale_ = value_scale::of_bits(low, high, cells);
    stride_ = cells + 1;
    // The sums of the halves are exact while a window's sum stays below 2^85
    // (value_scale::value_of_split): terms below 2^(high - low), at most
    // `cells` of them. The table's size keeps cells below 2^20, so the low
    // halves of a window's rises sum to below 2^52.
    const int sum_bits = high - low + static_cast<int>(std::bit_width(static_cast<std::uint64_t>(cells)));
    if (scale_.digits() > 1 || q.K > (index_t{1} << 20) / stride_) return;
    if (sum_bits > 85) {
        rise_words_.resize(static_cast<std::size_t>(q.K * stride_));
        for (index_t k = 0; k < q.K; ++k)
            for (index_t c = 1; c <= cells; ++c) rise_words_[k * stride_ + c] = digit_rise(k, c, 0);
        return;
    }
    rise_high_.resize(static_cast<std::size_t>(q.K * stride_));
    rise_low_.resize(rise_high_.size());
    for (index_t k = 0; k < q.K; ++k)
        for (index_t c = 1; c <= cells; ++c) {
            const wide_sum rise = digit_rise(k, c, 0);
            rise_high_[k * stride_ + c] = static_cast<std::uint64_t>(static_cast<signed_wide_sum>(rise) >> 32);
            rise_low_[k * stride_ + c] = static_cast<std::uint64_t>(rise) & 0xffffffff;
        }
}

ombrel_windows::ombrel_windows(const map_request& q)
    : q_(q), rows_at_once_(q.K <= most_classes_side_by_side ? 8 : 1), counts_(rows_at_once_ * q.K)
{
    ombrel_root_tables(q.h * q.w, root_, step_);
    if (q.arithmetic == arithmetic::exact) exact_.emplace(q, root_);
}

void ombrel_windows::score(label_view labels, const window_valid_counts& valid, const scored_positions& p,
                           const double* carried, double* last, raster_view<double> out, worker_pool& pool)
{
    // Under the plug-ins' arithmetic a sweep fixes the rounding of every
    // score after its start, so with every window inside the raster scored,
    // each row still starts afresh at the plug-ins' first column: the
    // windows they score keep their bits.
    const index_t restart = window_margin;
    if (!exact_ && q_.edges == edge_rule::inside && p.j0 <= restart && restart < p.j_end) {
        if (p.j0 < restart) sweep(labels, valid, {p.i0, p.i_end, p.j0, restart}, carried, nullptr, out, pool);
        sweep(labels, valid, {p.i0, p.i_end, restart, p.j_end}, nullptr, last, out, pool);
        return;
    }
    sweep(labels, valid, p, carried, last, out, pool);
}

void ombrel_windows::sweep(label_view labels, const window_valid_counts& valid, const scored_positions& p,
                           const double* carried, double* last, raster_view<double> out, worker_pool& pool)
{
    if (p.empty()) return;
    // Dividing each score by sqrt(h * w) as it is written gives the same bits
    // as dividing the whole output afterwards. With nodata, a window's score
    // over its v valid cells is divided by sqrt(v) instead: root_[v] is the
    // same double for v = h * w.
    const window_layout& layout = valid.layout();
    const double divisor = root_[layout.cells];
    const bool renormal = valid.varies();
    const index_t di = centre_offset(q_.h), dj = centre_offset(q_.w);
    // Writes the score of the window with top row i + g and left column j.
    const auto put_score = [&](index_t i) {
        return [&, i](index_t g, index_t j, double score) {
            if (!renormal) {
                out(i + g + di, j + dj) = score / divisor;
                return;
            }
            const index_t v = valid.count(i + g, j);
            out(i + g + di, j + dj) = valid.scores(v) ? score / root_[v] : std::numeric_limits<double>::quiet_NaN();
        };
    };
    // A whole raster's rows start their sweeps and hand nothing on; only
    // tiles pass carries, so the sweeps of whole rows are compiled without.
    const auto rows = [&](auto carries) {
        pool.parallel_for(p.i_end - p.i0, [&](index_t lo, index_t hi) {
            // Eight top rows at a time unless K is huge, any left over one by one.
            zeroed_counts::lease counts(counts_);
            std::vector<index_t> present;
            std::vector<wide_sum> sums(exact_ ? static_cast<std::size_t>(rows_at_once_ * exact_->digits()) : 0);
            index_t i = p.i0 + lo;
            const auto sweep = [&]<index_t R>(std::integral_constant<index_t, R>) {
                pool.check_interrupt();
                if (exact_ && !layout.rectangle) {
                    for (index_t g = 0; g < R; ++g) {
                        const auto put = [&](index_t, index_t j, double score) { put_score(i + g)(0, j, score); };
                        if (exact_->tabled())
                            exact_footprint_sweep<true>(labels, q_, layout, i + g, p.j0, p.j_end, *exact_,
                                                        counts.data(), sums.data(), put);
                        else
                            exact_footprint_sweep<false>(labels, q_, layout, i + g, p.j0, p.j_end, *exact_,
                                                         counts.data(), sums.data(), put);
                    }
                    return;
                }
                if (exact_) {
                    if (exact_->tabled())
                        exact_row_sweeps<R, true>(labels, q_, i, p.j0, p.j_end, *exact_, counts.data(), sums.data(),
                                                  put_score(i));
                    else
                        exact_row_sweeps<R, false>(labels, q_, i, p.j0, p.j_end, *exact_, counts.data(),
                                                   sums.data(), put_score(i));
                    return;
                }
                row_sweeps<R>(labels, q_, i, p.j0, p.j_end, root_, step_, counts.data(), present,
                              carries && carried ? carried + (i - p.i0) : nullptr,
                              carries && last ? last + (i - p.i0) : nullptr, put_score(i));
            };
            if (rows_at_once_ == 8)
                for (; i + 8 <= p.i0 + hi; i += 8) sweep(std::integral_constant<index_t, 8>{});
            for (; i < p.i0 + hi; ++i) sweep(std::integral_constant<index_t, 1>{});
        });
    };
    if (carried || last)
        rows(std::true_type{});
    else
        rows(std::false_type{});
}

// Direct score of a counted window: the sum over the classes k = 0 .. K-1,
// in that order, of table[k] * sqrt(count[k]). A class the window lacks adds
// table[k] * 0.0, a zero, which leaves every partial sum as it is (the sum
// starts at +0.0 and never becomes -0.0), since every class value is finite.
// So when K is larger than the window, the classes present, in increasing
// order, give the same bits at a cost that does not grow with K.
// `present` lists each class of the window once, in any order.
double ombrel_direct_score(const map_request& a, const index_t* count, std::vector<index_t>& present,
                    const std::vector<double>& root)
{
    double score = 0.0;
    if (a.K <= a.h * a.w) {
        for (index_t k = 0; k < a.K; ++k) score = score + a.table[k] * root[count[k]];
        return score;
    }
    std::sort(present.begin(), present.end());
    for (const index_t k : present) score = score + a.table[k] * root[count[k]];
    return score;
}

void ombrel_root_tables(index_t n, std::vector<double>& root, std::vector<double>& step)
{
    // The difference of two stored roots is exact (they lie within a factor
    // of two), so the steps of a count rising from 0 to c add up to root[c].
    root.resize(static_cast<std::size_t>(n + 1));
    step.assign(static_cast<std::size_t>(n + 1), 0.0);
    for (index_t c = 0; c <= n; ++c) root[c] = std::sqrt(static_cast<double>(c));
    for (index_t c = 1; c <= n; ++c) step[c] = root[c] - root[c - 1];
}

scored_positions ombrel_positions(index_t M, index_t N, index_t h, index_t w)
{
    scored_positions p = scored_positions_of(M, N, h, w);
    const bool first_fits = w <= N && N - w >= p.j0;
    p.j_end = first_fits ? std::max(p.j_end, p.j0 + 1) : p.j0;
    return p;
}

cell_block ombrel_read_block(index_t M, index_t N, index_t h, index_t w)
{
    const scored_positions p = ombrel_positions(M, N, h, w);
    if (p.empty()) return {0, 0, 0, 0};
    return {p.i0, p.i_end + h - 1, p.j0, p.j_end + w - 1};
}

namespace {

// The cells under the windows scored, whose classes alone Ombrel reads.
cell_block ombrel_labels(const map_request& q, index_t M, index_t N)
{
    if (q.edges == edge_rule::margin) return ombrel_read_block(M, N, q.h, q.w);
    const scored_positions p = window_positions(q, M, N);
    if (p.empty()) return {0, 0, 0, 0};
    return {std::max<index_t>(0, p.i0), std::min(M, p.i_end + q.h - 1), std::max<index_t>(0, p.j0),
            std::min(N, p.j_end + q.w - 1)};
}

} // namespace

extern const map_entry ombrel_entry{
    map_kind::ombrel, "ombrel", "Ombrel",
    "sum(table .* sqrt(q)), q the window's class proportions: with table = sqrt(p) the "
    "Bhattacharyya coefficient of p and q",
    "the square root of each code's target proportion", false, false, map_engine::running_score,
    std::numeric_limits<index_t>::max(), usable_values::finite,
    ombrel_positions, ombrel_labels, no_cells, nullptr};

} // namespace rw
