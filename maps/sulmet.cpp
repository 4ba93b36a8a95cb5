#include "sulmet.hpp"

#include "kernels/class_counts.hpp"
#include "catalogue.hpp"
#include "value_table.hpp"

#include "kernels/vector_units.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace rw {
namespace {

// Window square sums, sum over k of n_k^2, of the windows with top rows
// i .. i + R - 1 and left columns j0 <= j < j_end; that of top row i + g goes
// to q[(j - j0) * stride + g]. Taking a cell from a class of count c turns c^2
// into (c - 1)^2 = c^2 - 2c + 1; adding one that brings the count to c turns
// (c - 1)^2 into (c - 1)^2 + 2c - 1. So s is a whole number no larger than
// (h * w)^2, held exactly in 64 bits, and its value does not depend on the
// column where a sweep starts, nor on the order of the cells counted into
// the first window. counts holds R all-0 histograms of K entries on entry,
// and again on return.
template <index_t R>
void row_square_sums(label_view labels, const map_request& a, index_t i, index_t j0, index_t j_end,
                     index_t* counts, std::int64_t* q, index_t stride)
{
    index_t* count[R];
    index_t s[R];
    for (index_t g = 0; g < R; ++g) {
        count[g] = counts + g * a.K;
        s[g] = 0;
        count_window(labels, a.h, a.w, i + g, j0, count[g],
                     [&](index_t, index_t c) { s[g] = s[g] + 2 * c - 1; });
        q[g] = s[g];
    }
    for (index_t j = j0 + 1; j < j_end; ++j) {
        slide_right<R>(
            labels, a.h, a.w, i, j,
            [&](index_t g, index_t k) {
                index_t& c = count[g][k];
                s[g] = s[g] - 2 * c + 1;
                --c;
            },
            [&](index_t g, index_t k) {
                index_t& c = count[g][k];
                ++c;
                s[g] = s[g] + 2 * c - 1;
            });
        for (index_t g = 0; g < R; ++g) q[(j - j0) * stride + g] = s[g];
    }
    for (index_t g = 0; g < R; ++g) clear_counts(labels, a.K, a.h, a.w, i + g, j_end - 1, count[g]);
}

// The same window square sums from column counts: col[c][k] counts label
// k + 1 in rows i .. i+h-1 of column c. Moving those rows down one costs two
// updates per column, and each window's counts follow from its left
// neighbour's by one column in and one out, K additions, so no cost grows
// with the window. Needs (h * w)^2 below 2^31, so that 32-bit counts and
// sums are exact. Top rows i0 .. i1-1; that of top row i goes to
// q[(i - i0) + (j - j0) * stride].
void column_square_sums(label_view labels, const map_request& a, index_t i0, index_t i1,
                        index_t j0, index_t j_end, std::int64_t* q, index_t stride)
{
    const index_t K = a.K, h = a.h, w = a.w;
    const index_t c_end = j_end + w - 1; // columns j0 .. c_end-1 are read
    std::vector<std::int32_t> col(static_cast<std::size_t>((c_end - j0) * K), 0);
    const auto column = [&](index_t c) { return col.data() + (c - j0) * K; };
    for (index_t c = j0; c < c_end; ++c) {
        std::int32_t* count = column(c);
        for_each_down(labels, c, i0, i0 + h, [&](index_t, std::int32_t l) { ++count[l - 1]; });
    }
    // The labels that leave and enter the column counts, copied row by row
    // for a group of top rows at a time, so that they are read in memory
    // order whatever the layout.
    constexpr index_t group = 16;
    const index_t width = c_end - j0;
    std::vector<std::int32_t> leaving(static_cast<std::size_t>(group * width)),
        entering(leaving.size());
    std::vector<std::int32_t> n(static_cast<std::size_t>(K));
    for (index_t top = i0; top < i1; top += group) {
        const index_t rows = std::min(group, i1 - top);
        for (index_t c = j0; c < c_end; ++c) {
            if (top > i0)
                for_each_down(labels, c, top - 1, top - 1 + rows, [&](index_t g, std::int32_t l) {
                    leaving[g * width + (c - j0)] = l;
                });
            else
                for_each_down(labels, c, top, top + rows - 1, [&](index_t g, std::int32_t l) {
                    leaving[(g + 1) * width + (c - j0)] = l;
                });
            for_each_down(labels, c, top + h - 1, top + h - 1 + rows, [&](index_t g, std::int32_t l) {
                entering[g * width + (c - j0)] = l;
            });
        }
        for (index_t g = 0; g < rows; ++g) {
            const index_t i = top + g;
            if (i > i0) {
                const std::int32_t* out = leaving.data() + g * width;
                const std::int32_t* in = entering.data() + g * width;
                for (index_t c = 0; c < width; ++c) {
                    std::int32_t* count = col.data() + c * K;
                    --count[out[c] - 1];
                    ++count[in[c] - 1];
                }
            }
            std::fill(n.begin(), n.end(), 0);
            for (index_t c = j0; c < j0 + w; ++c) {
                const std::int32_t* count = column(c);
                for (index_t k = 0; k < K; ++k) n[k] += count[k];
            }
            std::int32_t s = 0;
            for (index_t k = 0; k < K; ++k) s += n[k] * n[k];
            q[i - i0] = s;
            std::int32_t* __restrict counts = n.data();
            for (index_t j = j0 + 1; j < j_end; ++j) {
                const std::int32_t* __restrict out = column(j - 1);
                const std::int32_t* __restrict in = column(j + w - 1);
                s = 0;
                for (index_t k = 0; k < K; ++k) {
                    counts[k] += in[k] - out[k];
                    s += counts[k] * counts[k];
                }
                q[(i - i0) + (j - j0) * stride] = s;
            }
        }
    }
}

// The same for a window of any layout, one top row i: each span's cells
// leave and enter as the window slides.
void footprint_square_sums(label_view labels, const window_layout& layout, index_t K, index_t i, index_t j0,
                           index_t j_end, index_t* count, std::int64_t* q, index_t stride)
{
    std::int64_t s = 0;
    count_footprint(labels, layout, i, j0, count, [&](index_t, index_t c) { s = s + 2 * c - 1; });
    q[0] = s;
    for (index_t j = j0 + 1; j < j_end; ++j) {
        slide_footprint_right(
            labels, layout, i, j,
            [&](index_t k) {
                index_t& c = count[k];
                s = s - 2 * c + 1;
                --c;
            },
            [&](index_t k) {
                index_t& c = count[k];
                ++c;
                s = s + 2 * c - 1;
            });
        q[(j - j0) * stride] = s;
    }
    clear_footprint_counts(labels, layout, K, i, j_end - 1, count);
}

// Whether K <= 3h and (h * w)^2 < 2^31, asked without forming a product
// that could overflow: a map without scored windows may have any window.
bool counts_by_columns(const map_request& a)
{
    return a.h > 0 && (a.K + 2) / 3 <= a.h && a.h <= 46340 && a.w <= 46340 / a.h;
}

} // namespace

window_square_sums::window_square_sums(const map_request& a)
    : a_(a),
      by_columns_(a.footprint.shape == window_shape::rectangle && a.edges != edge_rule::partial && counts_by_columns(a)),
      rows_at_once_(a.K <= most_classes_side_by_side ? 8 : 1),
      counts_(by_columns_ ? 0 : rows_at_once_ * a.K)
{
}

void window_square_sums::operator()(label_view labels, const window_layout& layout, index_t i0, index_t i1,
                                    index_t j0, index_t j_end, std::int64_t* q, index_t stride,
                                    const std::function<void()>& poll)
{
    if (i1 <= i0 || j_end <= j0) return;
    if (by_columns_) {
        column_square_sums(labels, a_, i0, i1, j0, j_end, q, stride);
        return;
    }
    // Eight top rows at a time unless K is huge, any left over one by one.
    zeroed_counts::lease counts(counts_);
    if (!layout.rectangle) {
        for (index_t i = i0; i < i1; ++i) {
            poll();
            footprint_square_sums(labels, layout, a_.K, i, j0, j_end, counts.data(), q + (i - i0), stride);
        }
        return;
    }
    index_t i = i0;
    if (rows_at_once_ == 8)
        for (; i + 8 <= i1; i += 8) {
            poll();
            row_square_sums<8>(labels, a_, i, j0, j_end, counts.data(), q + (i - i0), stride);
        }
    for (; i < i1; ++i) {
        poll();
        row_square_sums<1>(labels, a_, i, j0, j_end, counts.data(), q + (i - i0), stride);
    }
}

double table_square_sum(const map_request& q)
{
    double sum = 0.0;
    for (index_t k = 0; k < q.K; ++k) sum = sum + q.table[k] * q.table[k];
    return sum;
}

double_double exact_table_square_sum(const map_request& q)
{
    double_double sum;
    for (index_t k = 0; k < q.K; ++k) sum = sum + two_product(q.table[k], q.table[k]);
    return sum;
}

exact_sulmet_scores::exact_sulmet_scores(const map_request& q)
    : table_square_sum_(exact_table_square_sum(q)), cells_(window_cells(q)), inverse_(inverse_square(cells_))
{
}

double_double exact_sulmet_scores::inverse_square(index_t cells)
{
    const double n = static_cast<double>(cells);
    return double_double{1.0, 0.0} / two_product(n, n);
}

namespace {

// The exact score from the window's square sum (hi + lo exactly), its box
// sum, its cell count n, 1 / n^2 and the table's square sum P: d = (squares
// - 2 n box) / n^2 + P, each step within 2^-103 relative, hence the bound;
// 1 - d / 2 rounded once. Straight-line double arithmetic, the same bits on
// every vector unit (fused: the products' errors by fused multiply-adds,
// exact either way).
template <bool fused>
[[gnu::always_inline]] inline double exact_score(double_double squares, double_double box, double n,
                                                 double_double inverse, double_double P)
{
    double_double scaled_box = two_product<fused>(box.hi, n);
    scaled_box.lo += box.lo * n;
    const double_double d = product<fused>(squares - (scaled_box + scaled_box), inverse) + P;
    return to_double(double_double{1.0, 0.0} - double_double{0.5 * d.hi, 0.5 * d.lo});
}

template <bool fused>
[[gnu::always_inline]] inline void exact_scores_of(const double* squares, const std::uint64_t* high,
                                                   const std::uint64_t* low, double power, const double* cells,
                                                   const double* inverse_high, const double* inverse_low,
                                                   double_double P, double* scores, index_t n)
{
    for (index_t k = 0; k < n; ++k) {
        const double_double box =
            two_sum(value_scale::high_part(high[k]) * power, value_scale::low_part(low[k]) * power);
        scores[k] = exact_score<fused>({squares[k], 0.0}, box, cells[k], {inverse_high[k], inverse_low[k]}, P);
    }
}

#ifdef RW_X86_VECTOR_UNITS
[[gnu::target("avx2,fma")]] void exact_scores_avx2(const double* squares, const std::uint64_t* high,
                                                   const std::uint64_t* low, double power, const double* cells,
                                                   const double* inverse_high, const double* inverse_low,
                                                   double_double P, double* scores, index_t n)
{
    exact_scores_of<true>(squares, high, low, power, cells, inverse_high, inverse_low, P, scores, n);
}

[[gnu::target("avx512f,avx512dq,avx512vl,avx2,fma")]] void
exact_scores_avx512(const double* squares, const std::uint64_t* high, const std::uint64_t* low, double power,
                    const double* cells, const double* inverse_high, const double* inverse_low, double_double P,
                    double* scores, index_t n)
{
    exact_scores_of<true>(squares, high, low, power, cells, inverse_high, inverse_low, P, scores, n);
}
#endif

} // namespace

double exact_sulmet_scores::operator()(std::int64_t squares, double_double box, index_t cells) const
{
    // squares < 2^63 - 2^32 is an exact hi plus remainder.
    const double hi = static_cast<double>(squares);
    const double_double exact_squares{hi, static_cast<double>(squares - static_cast<std::int64_t>(hi))};
    const double_double inverse = cells == cells_ ? inverse_ : inverse_square(cells);
    return exact_score<false>(exact_squares, box, static_cast<double>(cells), inverse, table_square_sum_);
}

void exact_sulmet_scores::operator()(const std::int64_t* squares, const std::uint64_t* high, const std::uint64_t* low,
                                     const value_scale& scale, const index_t* cells, double* scores, index_t n) const
{
    if (!scale.splits_by_power()) { // a scale at the ends of the exponent range
        for (index_t k = 0; k < n; ++k) scores[k] = (*this)(squares[k], scale.sum_of_split(high[k], low[k]), cells[k]);
        return;
    }
    constexpr index_t most = window_run;
    for (index_t k0 = 0; k0 < n; k0 += most) {
        const index_t m = std::min(most, n - k0);
        double exact_squares[most], counts[most], inverse_high[most], inverse_low[most];
        for (index_t k = 0; k < m; ++k) {
            const index_t c = cells[k0 + k];
            const double_double inverse = c == cells_ ? inverse_ : inverse_square(c);
            exact_squares[k] = static_cast<double>(squares[k0 + k]);
            counts[k] = static_cast<double>(c);
            inverse_high[k] = inverse.hi;
            inverse_low[k] = inverse.lo;
        }
        const std::uint64_t* h = high + k0;
        const std::uint64_t* l = low + k0;
        const double power = scale.power();
        double* out = scores + k0;
        switch (vector_unit_in_use()) {
#ifdef RW_X86_VECTOR_UNITS
        case vector_unit::avx512:
            exact_scores_avx512(exact_squares, h, l, power, counts, inverse_high, inverse_low, table_square_sum_, out, m);
            break;
        case vector_unit::avx2:
            exact_scores_avx2(exact_squares, h, l, power, counts, inverse_high, inverse_low, table_square_sum_, out, m);
            break;
#endif
        default:
            exact_scores_of<false>(exact_squares, h, l, power, counts, inverse_high, inverse_low, table_square_sum_,
                                   out, m);
        }
    }
}

namespace {

// Scores windows from the table of class values and their square sums.
class sulmet_scorer final : public window_scorer {
public:
    explicit sulmet_scorer(const map_request& q)
        : q_(q), table_square_sum_(table_square_sum(q)), exact_scores_(q),
          square_sums_of_(q)
    {
    }

    struct squares_of_windows {
        const std::int64_t* sums;
        index_t i0, j0, rows;
        std::int64_t operator()(index_t i, index_t j) const { return sums[(i - i0) + (j - j0) * rows]; }
    };

    // The square sums of the windows p, read by (i, j).
    squares_of_windows square_sums(label_view labels, const window_layout& layout, const scored_positions& p,
                                   worker_pool& pool)
    {
        const index_t rows = p.i_end - p.i0;
        square_sums_.resize(static_cast<std::size_t>(rows * (p.j_end - p.j0)));
        pool.parallel_for(rows, [&](index_t lo, index_t hi) {
            square_sums_of_(labels, layout, p.i0 + lo, p.i0 + hi, p.j0, p.j_end, square_sums_.data() + lo, rows,
                            [&] { pool.check_interrupt(); });
        });
        return {square_sums_.data(), p.i0, p.j0, rows};
    }

    // Square sums read every row of a window.
    index_t label_rows_read(index_t h) const override { return h - 1; }

    void score(label_view labels, raster_view<const double> t, const window_valid_counts& valid,
               const scored_positions& p, raster_view<double> out, worker_pool& pool) override
    {
        const auto squares = square_sums(labels, valid.layout(), p, pool);
        // (h * w)^2 passes 2^31 - 1 from a 216 x 216 window on. The double
        // product of the exact area is the exact square rounded once, the
        // same bits as rounding an exact integer square, and it cannot
        // overflow.
        const index_t h = q_.h, w = q_.w, di = centre_offset(h), dj = centre_offset(w);
        const double area = static_cast<double>(h * w);
        const double area_squared = area * area;
        if (!valid.active()) {
            for_each_window_sum(t, p, h, w, [&](index_t i, index_t j, double box) {
                out(i + di, j + dj) = sulmet_score(squares(i, j), box, area, area_squared, table_square_sum_);
            }, pool);
            return;
        }
        // Proportions over the v valid cells: the nodata class (value 0, so
        // absent from box and the table's square sum) leaves the square sum
        // with its count's square. For v = h * w every operand is as above.
        for_each_window_sum(t, p, h, w, [&](index_t i, index_t j, double box) {
            const index_t v = valid.count(i, j), none = h * w - v;
            if (!valid.scores(v)) {
                out(i + di, j + dj) = std::numeric_limits<double>::quiet_NaN();
                return;
            }
            out(i + di, j + dj) = sulmet_score(squares(i, j) - none * none, box, static_cast<double>(v),
                                               static_cast<double>(v * v), table_square_sum_);
        }, pool);
    }

    // The same expression in double-double from the exact square sum and
    // the exact box sum, rounded once.
    void score_exact(label_view labels, const exact_value_table& sums, const window_valid_counts& valid,
                     const scored_positions& p, raster_view<double> out, worker_pool& pool) override
    {
        const auto squares = square_sums(labels, valid.layout(), p, pool);
        const window_layout& layout = valid.layout();
        const index_t di = centre_offset(layout.h), dj = centre_offset(layout.w);
        if (sums.slides() != exact_value_table::sliding::none) {
            // Without nodata or clipping every window has the same cells.
            const bool varies = valid.varies();
            const index_t every = layout.cells;
            const bool straight_out = !varies && valid.scores(every) && out.row_step == 1;
            sums.for_each_window_run(labels, p, layout, [&](index_t i, index_t j, const std::uint64_t* high,
                                                            const std::uint64_t* low, index_t n) {
                std::int64_t window_squares[window_run];
                double scores[window_run];
                index_t cells[window_run];
                bool scored[window_run];
                // Windows not scored are scored as full ones, then written over.
                const std::int64_t* run_squares = &squares.sums[(i - squares.i0) + (j - squares.j0) * squares.rows];
                for (index_t k = 0; k < n; ++k) {
                    const index_t v = varies ? valid.count(i + k, j) : every, none = varies ? valid.inside(i + k, j) - v : 0;
                    scored[k] = valid.scores(v);
                    cells[k] = scored[k] ? v : layout.cells;
                    window_squares[k] = scored[k] ? run_squares[k] - none * none : 0;
                }
                if (straight_out) { // every window scored: straight into the output's column
                    exact_scores_(window_squares, high, low, sums.scale(), cells, &out(i + di, j + dj), n);
                    return;
                }
                exact_scores_(window_squares, high, low, sums.scale(), cells, scores, n);
                for (index_t k = 0; k < n; ++k)
                    out(i + k + di, j + dj) = scored[k] ? scores[k] : std::numeric_limits<double>::quiet_NaN();
            }, pool);
            return;
        }
        const int D = sums.digits();
        std::vector<footprint_sums<wide_sum>> readers;
        if (!layout.rectangle)
            for (int d = 0; d < D; ++d) readers.push_back(sums.window_sums(d, layout));
        pool.parallel_for(p.j_end - p.j0, [&](index_t lo, index_t hi) {
            std::vector<wide_sum> box(static_cast<std::size_t>(D));
            for (index_t j = p.j0 + lo; j < p.j0 + hi; ++j)
                for (index_t i = p.i0; i < p.i_end; ++i) {
                    const index_t v = valid.count(i, j), none = valid.inside(i, j) - v;
                    if (!valid.scores(v)) {
                        out(i + di, j + dj) = std::numeric_limits<double>::quiet_NaN();
                        continue;
                    }
                    for (int d = 0; d < D; ++d)
                        box[d] = layout.rectangle ? sums.window_sum(d, i, j, layout) : readers[d](i, j);
                    out(i + di, j + dj) = exact_scores_(squares(i, j) - none * none, sums.scale().sum(box.data()), v);
                }
        });
    }

private:
    map_request q_;
    double table_square_sum_;
    exact_sulmet_scores exact_scores_;
    window_square_sums square_sums_of_;
    std::vector<std::int64_t> square_sums_; // of the windows scored, column by column
};

std::unique_ptr<window_scorer> make_sulmet_scorer(const map_request& q)
{
    return std::make_unique<sulmet_scorer>(q);
}

} // namespace

const value_rules sulmet_rules{false, make_sulmet_scorer, true, true};

extern const map_entry sulmet_entry{
    map_kind::sulmet, "sulmet", "Sulmet",
    "1 - 0.5 * sum((q - p)^2): closeness of the window's class proportions q to the table's p",
    "the target proportion of each code", false, false, map_engine::value_table,
    most_sulmet_window_cells, usable_values::finite, scored_positions_of,
    every_label, no_cells, &sulmet_rules};

} // namespace rw
