#include "exact_sum.hpp"

#include "vector_units.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace rw {
namespace {

// Limbs of a sum: digits * s + 64 bits for the largest sum (s < 128, and a
// value spans at most 2098 bits, so fewer than 2226 bits of digits), a sign
// bit, and two fraction limbs for the quotient.
constexpr int most_limbs = 40;
using limbs = std::array<std::uint64_t, most_limbs>;

struct value_bits {
    int low, high; // exponents of v's lowest and one above its highest set bit
};

// x 2^e, rounded like ldexp (exact unless it overflows or underflows).
double times_power_of_two(double x, int e)
{
    if (e >= -1022 && e <= 1023) return x * std::bit_cast<double>(static_cast<std::uint64_t>(e + 1023) << 52);
    return std::ldexp(x, e);
}

value_bits bits_of(double v)
{
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased != 0) m |= std::uint64_t{1} << 52;
    const int e = (biased == 0 ? 1 : biased) - 1075;
    return {e + std::countr_zero(m), e + static_cast<int>(std::bit_width(m))};
}

// acc += x * 2^shift, x a signed 128-bit word, acc n limbs of two's
// complement (wrapping at the top).
void add_shifted(limbs& acc, int n, wide_sum x, int shift)
{
    const int q = shift / 64, r = shift % 64;
    const std::uint64_t lo = static_cast<std::uint64_t>(x), hi = static_cast<std::uint64_t>(x >> 64);
    const std::uint64_t ext = (hi >> 63) ? ~std::uint64_t{0} : 0;
    const std::uint64_t t[3] = {lo << r, r ? (hi << r) | (lo >> (64 - r)) : hi,
                                r ? (ext << r) | (hi >> (64 - r)) : ext};
    unsigned carry = 0;
    for (int k = q; k < n; ++k) {
        const std::uint64_t term = k - q < 3 ? t[k - q] : ext;
        const std::uint64_t a = acc[k] + term;
        const unsigned c1 = a < term;
        acc[k] = a + carry;
        carry = c1 | (acc[k] < a);
    }
}

bool bit_at(const limbs& x, int n, int pos)
{
    return pos >= 0 && pos < 64 * n && ((x[pos / 64] >> (pos % 64)) & 1);
}

// Whether any of bits 0 .. pos-1 is set.
bool any_below(const limbs& x, int pos)
{
    const int whole = pos / 64;
    for (int k = 0; k < whole; ++k)
        if (x[k]) return true;
    return pos % 64 != 0 && (x[whole] & ((std::uint64_t{1} << (pos % 64)) - 1)) != 0;
}

// Bits pos .. pos+63 of x (n limbs), 0 beyond the top.
std::uint64_t bits_from(const limbs& x, int n, int pos)
{
    const int k = pos / 64, r = pos % 64;
    const std::uint64_t lo = k < n ? x[k] : 0, hi = k + 1 < n ? x[k + 1] : 0;
    return r ? (lo >> r) | (hi << (64 - r)) : lo;
}

int bit_length(wide_sum x)
{
    const auto high = static_cast<std::uint64_t>(x >> 64);
    return high ? 64 + static_cast<int>(std::bit_width(high))
                : static_cast<int>(std::bit_width(static_cast<std::uint64_t>(x)));
}

// q * 2^scale rounded to nearest, ties to even, also into the subnormal
// range; `beyond`: whether the true value exceeds q * 2^scale. q >= 2^54.
double rounded(std::uint64_t q, bool beyond, int scale)
{
    const int length = static_cast<int>(std::bit_width(q));
    const int precision = std::min(53, length - 1 + scale + 1075); // fewer bits when subnormal
    const int dropped = length - precision;                        // >= 2
    if (dropped > 64) return 0.0;
    std::uint64_t kept = dropped == 64 ? 0 : q >> dropped;
    const bool half = (q >> (dropped - 1)) & 1;
    beyond = beyond || (dropped > 1 && (q & ((std::uint64_t{1} << (dropped - 1)) - 1)) != 0);
    if (half && (beyond || (kept & 1))) ++kept;
    // kept * 2^s, s = scale + dropped: kept lies in 2^52 .. 2^53 for a
    // normal result, and s = -1074 for a subnormal one, so one sum of bit
    // fields gives both, a carry into the next binade included.
    const int s = scale + dropped;
    return std::bit_cast<double>((static_cast<std::uint64_t>(s + 1074) << 52) + kept);
}

// magnitude 2^exponent / n, correctly rounded by one integer division: for
// every magnitude and n, also when the quotient is subnormal.
double rounded_quotient(wide_sum magnitude, std::uint64_t n, int exponent)
{
    // floor(magnitude / (n 2^t)) with 55 or 56 bits, and whether it left a
    // remainder. For t < 0 the dividend's high word stays below n, so the
    // division is a single 128-by-64-bit one.
    const int t = bit_length(magnitude) - static_cast<int>(std::bit_width(n)) - 55;
    const wide_sum x = t < 0 ? magnitude << -t : magnitude, y = t < 0 ? wide_sum{n} : wide_sum{n} << t;
    const wide_sum q = x / y;
    return rounded(static_cast<std::uint64_t>(q), x - q * y != 0, exponent + t);
}

// The mean of a window whose sum is a + b exactly, in units of 2^E =
// power, over `cells` cells, or NaN when it cannot be settled (see
// value_scale::quick_means). Quiet comparisons, joined bitwise, so that
// nothing branches. fused: s - q n by a fused multiply-add, exact in one
// operation, where the processor has one; else by halves of q.
template <bool fused>
[[gnu::always_inline]] inline double settled_mean_or_nan(double a, double b, double cells, double power, bool& settled)
{
    const double s = a + b, moved = s - a;
    const double e = (a - (s - moved)) + (b - moved);
    const double q = s / cells;
    double d; // s - q n, exact
    if constexpr (fused) {
        d = std::fma(-q, cells, s);
    } else {
        const double split = q * 134217729.0; // 2^27 + 1
        const double q_high = split - (split - q), q_low = q - q_high;
        d = (s - q_high * cells) - q_low * cells;
    }
    const double t = d + e, back = t - d;
    const double error = (d - (t - back)) + (e - back); // R = t + error exactly
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(q);
    const double ulp = std::bit_cast<double>(bits & 0x7ff0000000000000) * 0x1p-52;
    const double half = cells * ulp * 0.5;
    const double up = std::isgreater(t, half) ? ulp : 0.0, down = std::isless(t, -half) ? ulp : 0.0;
    const double q1 = q + up - down; // one of up and down is 0
    // t and the multiples of half lie on the grid of ulp(t), and |error| <=
    // ulp(t) / 2, so only |t| = half (no step) or 3 half (a step to q1)
    // leaves error to decide: outwards, q1 is still more than half an ulp
    // off; 0, a tie, the mean lying halfway from q1 to its neighbour
    // towards t, which adding half an ulp rounds to the even one of the two.
    // (Written so that the compiler keeps it free of branches: the tie's
    // half ulp by its bits.)
    const double size_of_t = std::fabs(t), three_halves = 3.0 * half;
    const bool at_half = size_of_t == half, at_three_halves = size_of_t == three_halves;
    const bool outwards = std::isgreater(error * t, 0.0);
    const bool beyond = std::isgreater(size_of_t, three_halves) | ((at_half | at_three_halves) & outwards);
    const bool tie = (at_half | at_three_halves) & (error == 0.0);
    const std::uint64_t sign_of_t = std::bit_cast<std::uint64_t>(t) & 0x8000000000000000;
    const double tie_step =
        std::bit_cast<double>((std::bit_cast<std::uint64_t>(0.5 * ulp) | sign_of_t) & -static_cast<std::uint64_t>(tie));
    const double r = (q1 + tie_step) * power;
    const double size = std::fabs(r);
    const bool near_power = std::islessequal(std::fabs(q), ulp * 0x1p52 + ulp); // |q| = 2^k or 2^k + ulp
    const bool towards_zero = std::isless(t, 0.0) != std::isless(q, 0.0);
    const bool above_least = std::isgreaterequal(size, std::numeric_limits<double>::min());
    const bool below_most = std::islessequal(size, std::numeric_limits<double>::max());
    const bool zero = s == 0;
    settled = (!beyond & !(near_power & towards_zero) & above_least & below_most) | zero;
    const double mean = zero ? 0.0 : r;
    return settled ? mean : std::numeric_limits<double>::quiet_NaN();
}

template <bool fused>
[[gnu::always_inline]] inline index_t settle_pairs(const double* high, const double* low, const double* cells,
                                                   double* means, index_t n, double power)
{
    index_t unsettled = 0;
    for (index_t k = 0; k < n; ++k) {
        bool settled;
        means[k] = settled_mean_or_nan<fused>(high[k], low[k], cells[k], power, settled);
        unsettled += !settled;
    }
    return unsettled;
}

template <bool fused>
[[gnu::always_inline]] inline index_t settle_split_sums(const std::uint64_t* high, const std::uint64_t* low,
                                                        const double* cells, double* means, index_t n, double power)
{
    index_t unsettled = 0;
    for (index_t k = 0; k < n; ++k) {
        bool settled;
        means[k] = settled_mean_or_nan<fused>(value_scale::high_part(high[k]), value_scale::low_part(low[k]),
                                              cells[k], power, settled);
        unsettled += !settled;
    }
    return unsettled;
}

#ifdef RW_X86_VECTOR_UNITS
// Built for processors with AVX2 and FMA, four windows per instruction, and
// with AVX-512, eight; vector_units.hpp chooses. All give the same bits, as
// each operation is the same IEEE operation on doubles, and s - q n is
// exact either way.
[[gnu::target("avx2,fma")]] index_t settle_pairs_avx2(const double* high, const double* low, const double* cells,
                                                      double* means, index_t n, double power)
{
    return settle_pairs<true>(high, low, cells, means, n, power);
}

[[gnu::target("avx2,fma")]] index_t settle_split_sums_avx2(const std::uint64_t* high, const std::uint64_t* low,
                                                           const double* cells, double* means, index_t n, double power)
{
    return settle_split_sums<true>(high, low, cells, means, n, power);
}

[[gnu::target("avx512f,avx512dq,avx512vl,avx2,fma")]] index_t
settle_split_sums_avx512(const std::uint64_t* high, const std::uint64_t* low, const double* cells, double* means,
                         index_t n, double power)
{
    return settle_split_sums<true>(high, low, cells, means, n, power);
}
#endif

// The settling of split sums on the best vector unit there is.
index_t settle_split_sums_on(vector_unit unit, const std::uint64_t* high, const std::uint64_t* low, const double* cells,
                             double* means, index_t n, double power)
{
#ifdef RW_X86_VECTOR_UNITS
    if (unit == vector_unit::avx512) return settle_split_sums_avx512(high, low, cells, means, n, power);
    if (unit == vector_unit::avx2) return settle_split_sums_avx2(high, low, cells, means, n, power);
#endif
    (void)unit;
    return settle_split_sums<false>(high, low, cells, means, n, power);
}

} // namespace

index_t value_scale::quick_means(const double* high, const double* low, const double* cells, double* means,
                                 index_t n) const
{
#ifdef RW_X86_VECTOR_UNITS
    if (vector_unit_in_use() != vector_unit::plain) return settle_pairs_avx2(high, low, cells, means, n, power_);
#endif
    return settle_pairs<false>(high, low, cells, means, n, power_);
}

void value_scale::means_of_split_sums(const std::uint64_t* high, const std::uint64_t* low, const double* cells,
                                      double* means, index_t n) const
{
    const index_t unsettled = settle_split_sums_on(vector_unit_in_use(), high, low, cells, means, n, power_);
    if (unsettled == 0) return;
    for (index_t k = 0; k < n; ++k)
        if (std::isnan(means[k])) means[k] = mean_of_word(word_of_split(high[k], low[k]), static_cast<index_t>(cells[k]));
}

double value_scale::mean_by_division(wide_sum sum, index_t cells) const
{
    const bool negative = sum >> 127;
    const wide_sum magnitude = negative ? -sum : sum;
    if (magnitude == 0) return 0.0;
    const double r = rounded_quotient(magnitude, static_cast<std::uint64_t>(cells), exponent_);
    return negative ? -r : r;
}

value_scale::value_scale(const double* values, index_t n, index_t most_cells)
{
    int low = std::numeric_limits<int>::max(), high = std::numeric_limits<int>::min();
    for (index_t k = 0; k < n; ++k)
        if (std::isfinite(values[k]) && values[k] != 0) {
            const value_bits b = bits_of(values[k]);
            low = std::min(low, b.low);
            high = std::max(high, b.high);
        }
    if (low <= high) *this = of_bits(low, high, most_cells); // else nothing but zeros
}

value_scale value_scale::of_bits(int low, int high, index_t most_cells)
{
    value_scale scale;
    scale.exponent_ = low;
    scale.power_ = low >= -1022 && low <= 1023 ? std::bit_cast<double>(static_cast<std::uint64_t>(low + 1023) << 52) : 0.0;
    const int width = high - low;
    scale.width_ = width;
    const int cell_bits = static_cast<int>(std::bit_width(static_cast<std::uint64_t>(std::max<index_t>(1, most_cells))));
    // A digit's window sum stays below most_cells * 2^s <= 2^127.
    scale.digit_bits_ = 127 - cell_bits;
    scale.digits_ = width <= scale.digit_bits_ ? 1 : (width + scale.digit_bits_ - 1) / scale.digit_bits_;
    return scale;
}

double_double value_scale::sum_of_digits(const wide_sum* sums) const
{
    double_double total;
    for (int d = 0; d < digits_; ++d) {
        // The word's magnitude in pieces of 53 bits, each an exact double.
        const bool negative = sums[d] >> 127;
        const wide_sum m = negative ? -sums[d] : sums[d];
        constexpr wide_sum piece = (wide_sum{1} << 53) - 1;
        const int scale = exponent_ + digit_bits_ * d;
        const auto part = [&](int at) {
            return times_power_of_two(static_cast<double>(static_cast<std::uint64_t>((m >> at) & piece)), scale + at);
        };
        const double_double word = two_sum(part(106), part(53)) + double_double{part(0), 0.0};
        total = total + (negative ? -word : word);
    }
    return total;
}

double value_scale::mean(const wide_sum* sums, index_t cells) const
{
    if (digits_ == 1) return mean_of_word(sums[0], cells);
    // The sum in n limbs: the digits, a count's 64 bits and a sign bit.
    const int n = std::min(most_limbs - 2, (digits_ * digit_bits_ + 64 + 1 + 63) / 64 + 1);
    limbs sum{};
    for (int d = 0; d < digits_; ++d) add_shifted(sum, n, sums[d], digit_bits_ * d);
    const bool negative = sum[n - 1] >> 63;
    if (negative) { // magnitude
        unsigned carry = 1;
        for (int k = 0; k < n; ++k) {
            sum[k] = ~sum[k] + carry;
            carry = carry && sum[k] == 0;
        }
    }
    // q = floor(sum * 2^128 / cells): two fraction limbs give at least 65
    // significant bits, as sum >= 1 and cells < 2^64. The value is q *
    // 2^(E - 128), plus a remainder that only decides ties (sticky).
    const std::uint64_t divisor = static_cast<std::uint64_t>(cells);
    limbs q{};
    const int qn = n + 2;
    std::uint64_t rest = 0;
    int top = n - 1;
    while (top >= 0 && sum[top] == 0) --top;
    if (top < 0) return 0.0;
    for (int k = top; k >= -2; --k) {
        const wide_sum cur = (static_cast<wide_sum>(rest) << 64) | (k >= 0 ? sum[k] : 0);
        q[k + 2] = static_cast<std::uint64_t>(cur / divisor);
        rest = static_cast<std::uint64_t>(cur % divisor);
    }
    int high = qn - 1;
    while (q[high] == 0) --high;
    const int length = 64 * high + static_cast<int>(std::bit_width(q[high]));
    const int scale = exponent_ - 128;
    const int lead = length - 1 + scale;                       // exponent of the leading bit
    const int precision = std::min(53, lead + 1075);           // fewer bits when subnormal
    const int dropped = length - precision;                    // >= 13
    std::uint64_t kept = precision > 0 ? bits_from(q, qn, dropped) & ((std::uint64_t{1} << precision) - 1) : 0;
    const bool half = bit_at(q, qn, dropped - 1);
    const bool beyond = rest != 0 || (dropped - 1 > 0 && any_below(q, std::min(dropped - 1, 64 * qn)));
    if (half && (beyond || (kept & 1))) ++kept;
    const double magnitude = std::ldexp(static_cast<double>(kept), scale + dropped);
    return negative ? -magnitude : magnitude;
}

} // namespace rw
