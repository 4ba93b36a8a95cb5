#include "raster_window.hpp"

#include <vector>

namespace rw {
namespace {

// Adds in T's own arithmetic; the integer table adds in uint32 so that it
// wraps instead of overflowing.
//
// The table is defined by two sweeps: along each row, x(r, c) = x(r, c - 1) +
// x(r, c); then down each column, x(r, c) = x(r - 1, c) + x(r, c). Both are
// done here in one pass over the columns: row_sums keeps the first sweep's
// value of the previous column, so every cell still sees exactly the same
// additions in the same order, while the raster is read and written once.
template <class T, class Acc>
void summed_area_table_in(T* x, index_t M, index_t N)
{
    if (M <= 0 || N <= 0) return;
    const auto add = [](T a, T b) {
        return static_cast<T>(static_cast<Acc>(a) + static_cast<Acc>(b));
    };
    std::vector<T> row_sums(x, x + M);
    for (index_t r = 1; r < M; ++r) x[r] = add(x[r - 1], x[r]);
    for (index_t c = 1; c < N; ++c) {
        T* col = x + M * c;
        row_sums[0] = add(row_sums[0], col[0]);
        col[0] = row_sums[0];
        for (index_t r = 1; r < M; ++r) {
            row_sums[r] = add(row_sums[r], col[r]);
            col[r] = add(col[r - 1], row_sums[r]);
        }
    }
}

template <class T>
void write_window_means_from(const T* s, index_t M, index_t N, index_t h, index_t w, double* out)
{
    const scored_positions p = scored_positions_of(M, N, h, w);
    if (p.empty()) return;
    const double area = static_cast<double>(h * w);
    const index_t di = centre_offset(h), dj = centre_offset(w);
    // Every output cell is written once and independently, so columns may run
    // outer here for sequential access.
    for (index_t j = p.j0; j < p.j_end; ++j) {
        double* out_col = out + M * (j + dj) + di;
        for (index_t i = p.i0; i < p.i_end; ++i)
            out_col[i] = static_cast<double>(box_sum(s, M, i, j, h, w)) / area;
    }
}

} // namespace

void summed_area_table(double* x, index_t M, index_t N)
{
    summed_area_table_in<double, double>(x, M, N);
}

void summed_area_table(std::int32_t* x, index_t M, index_t N)
{
    summed_area_table_in<std::int32_t, std::uint32_t>(x, M, N);
}

void write_window_means(const double* s, index_t M, index_t N, index_t h, index_t w, double* out)
{
    write_window_means_from(s, M, N, h, w, out);
}

void write_window_means(const std::int32_t* s, index_t M, index_t N, index_t h, index_t w,
                        double* out)
{
    write_window_means_from(s, M, N, h, w, out);
}

} // namespace rw
