// Exact window sums of doubles, and their correctly rounded means.
//
// Every finite double is an integer times a power of two, so the values a
// map adds are integers at one common scale 2^E, E the exponent of the
// lowest set bit among them. Those integers go into summed-area tables of
// 128-bit words that wrap: a box sum of four table cells is then the
// window's sum modulo 2^128, which is the sum itself whenever it lies in
// -2^127 .. 2^127 - 1, whatever the raster's size or the window's place.
//
// A value too wide for one word beside the window's cell count (the values
// span more than 127 - bits(cells) bits, such as 1e-30 next to 1e30) is cut
// into digits of s bits, one table per digit, each digit's window sum
// bounded by cells * 2^s <= 2^127. The window's sum is then put together
// from the digits' sums in as many 64-bit limbs as it needs.
#pragma once

#include "double_double.hpp"
#include "raster_window.hpp"

#include <bit>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace rw {

__extension__ typedef unsigned __int128 wide_sum; // GCC and Clang both have it
__extension__ typedef __int128 signed_wide_sum;

// How values become integers: value = sum over digits d of digit(value, d)
// * 2^(E + s d), each digit a signed integer below 2^s in magnitude.
class value_scale {
public:
    value_scale() = default;
    // Over the n values that may be added (0, infinities and NaN are
    // skipped), for windows of at most most_cells cells.
    value_scale(const double* values, index_t n, index_t most_cells);
    // Over values whose set bits all lie in 2^low .. 2^(high - 1).
    static value_scale of_bits(int low, int high, index_t most_cells);

    int digits() const { return digits_; }
    // Every value is an integer below 2^width() in magnitude at the scale.
    int width() const { return width_; }

    // Digit d of v, signed, as a wrapping 128-bit word. v must be finite and
    // one of the values the scale was made for, or 0.
    wide_sum digit(double v, int d) const
    {
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
        const int biased = static_cast<int>((bits >> 52) & 0x7ff);
        std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
        if (biased != 0) m |= std::uint64_t{1} << 52;
        if (m == 0) return 0;
        // v = m * 2^(e - 1075), and e - 1075 >= E for every value of the scale.
        const int shift = (biased == 0 ? 1 : biased) - 1075 - exponent_ - digit_bits_ * d;
        wide_sum x;
        if (shift >= 0) {
            if (shift >= 128) return 0; // only ever beyond a digit's top for a value below the others
            x = static_cast<wide_sum>(m) << shift;
        } else {
            if (shift <= -64) return 0;
            x = m >> -shift;
        }
        if (digits_ > 1 && digit_bits_ < 128) x &= (wide_sum{1} << digit_bits_) - 1;
        return (bits >> 63) ? -x : x;
    }

    // The mean of a window of `cells` cells (1 .. 2^63 - 1) whose digits'
    // window sums are sums[0 .. digits-1], correctly rounded to nearest, ties
    // to even (also when it is subnormal). A zero sum gives +0.
    double mean(const wide_sum* sums, index_t cells) const;

    // The same for a scale of one digit, from the window's sum: inline, as
    // every scored window calls it.
    [[gnu::always_inline]] double mean_of_word(wide_sum sum, index_t cells) const
    {
        return settled_mean(sum, cells, magnitude_estimate(sum) / static_cast<double>(cells));
    }

    // mean_of_word of windows 0 .. n-1 into means. Most means are settled in
    // doubles without a branch, several windows at once in vector
    // registers; the few that this cannot settle (see quick_means) are
    // settled in integers after.
    void means_of_words(const wide_sum* sums, const index_t* cells, double* means, index_t n) const
    {
        double high[window_batch], low[window_batch], counts[window_batch];
        for (index_t k0 = 0; k0 < n; k0 += window_batch) {
            const index_t n1 = std::min(window_batch, n - k0);
            for (index_t k = 0; k < n1; ++k) {
                const wide_sum sum = sums[k0 + k];
                const bool negative = sum >> 127;
                const wide_sum magnitude = negative ? -sum : sum;
                const double_double pair = exact_pair(magnitude);
                const double sign = negative ? -1.0 : 1.0;
                // Sums of 105 bits or more and windows of 2^26 cells or more
                // are left to the integers: NaN settles nothing.
                const bool fits = (magnitude >> 105) == 0 && cells[k0 + k] < (index_t{1} << 26);
                high[k] = fits ? pair.hi * sign : std::numeric_limits<double>::quiet_NaN();
                low[k] = pair.lo * sign;
                counts[k] = static_cast<double>(cells[k0 + k]);
            }
            if (quick_means(high, low, counts, means + k0, n1) == 0) continue;
            for (index_t k = 0; k < n1; ++k)
                if (std::isnan(means[k0 + k])) means[k0 + k] = mean_of_word(sums[k0 + k], cells[k0 + k]);
        }
    }

    // The correctly rounded means of windows 0 .. n-1 (n <= window_batch)
    // whose sums, in units of 2^E, are high[k] + low[k] exactly (each below
    // 2^105 in magnitude, or high[k] NaN) and whose cell counts
    // counts[k] are below 2^26, into means; NaN for those it cannot settle,
    // and the number of them returned. Without a branch, so that the
    // compiler works on several windows at once.
    //
    // s + e = high + low exactly (two_sum). With q = fl(s / n), s - q n is
    // exact in doubles (q split into halves of 26 bits, each times n <
    // 2^26 exact), so the residual R = sum - q n = (s - q n) + e is t +
    // error exactly (two_sum again). q is the nearest double to sum / n
    // unless |R| >= n ulp(q) / 2; |R| < 3 n ulp(q) / 2, so one ulp up or
    // down settles the rest, ties to even. Left unsettled: a step towards
    // zero from a power of two, where the ulp halves (|q| = 2^k or 2^k +
    // ulp with R towards zero), a residual still beyond half an ulp after
    // the step, and a mean outside the normal range.
    index_t quick_means(const double* high, const double* low, const double* counts, double* means,
                        index_t n) const;

    // The correctly rounded means of windows 0 .. n-1 whose sums, in units
    // of 2^E, are high[k] 2^32 + low[k], high[k] signed (two's complement)
    // below 2^51 in magnitude and low[k] below 2^52, over cells[k] cells
    // (below 2^26), into means. Most through quick_means's settling, the
    // rest in integers.
    void means_of_split_sums(const std::uint64_t* high, const std::uint64_t* low, const double* cells,
                             double* means, index_t n) const;

    // The double nearest a sum of one digit: inline, as Ombrel rounds every
    // window's sum. The conversion rounds once, and times 2^E is exact
    // while the result is normal; the rest takes the division.
    [[gnu::always_inline]] double value_of_word(wide_sum sum) const
    {
        const double r = static_cast<double>(static_cast<signed_wide_sum>(sum)) * power_;
        const double size = r < 0 ? -r : r;
        if ((size >= std::numeric_limits<double>::min() && size <= std::numeric_limits<double>::max()) || sum == 0)
            return r == 0 ? 0.0 : r;
        return mean_by_division(sum, 1);
    }

    // Whether a sum high 2^32 + low of a scale of one digit (as
    // means_of_split_sums takes it) is two_sum(high_part(high) power(),
    // low_part(low) power()) exactly: every part normal, or 0.
    bool splits_by_power() const { return exponent_ >= -1022 && exponent_ <= 917; }
    double power() const { return power_; }
    // high 2^32 (high signed below 2^51 in magnitude) and low (below 2^52)
    // as exact doubles, by their bits: the integer put below the point of
    // 1.5 2^52 or 2^52, which is then taken off, so that vector registers
    // take several at once.
    static double high_part(std::uint64_t high)
    {
        return (std::bit_cast<double>(high + 0x4338000000000000) - 0x1.8p52) * 0x1p32;
    }
    static double low_part(std::uint64_t low) { return std::bit_cast<double>(low | 0x4330000000000000) - 0x1p52; }

    // The sum high 2^32 + low (high signed, as two's complement) as one
    // wrapping 128-bit word.
    static wide_sum word_of_split(std::uint64_t high, std::uint64_t low)
    {
        const auto signed_high = static_cast<signed_wide_sum>(static_cast<std::int64_t>(high));
        return (static_cast<wide_sum>(signed_high) << 32) + low;
    }

    // A sum high 2^32 + low of a scale of one digit, as a double-double:
    // exact.
    double_double sum_of_split(std::uint64_t high, std::uint64_t low) const
    {
        if (splits_by_power()) return two_sum(high_part(high) * power_, low_part(low) * power_);
        const wide_sum word = word_of_split(high, low);
        return sum(&word);
    }

    // value_of_word of the sum high 2^32 + low of a scale of one digit,
    // |high| and low below 2^53: both parts are exact doubles, so their sum
    // rounds once.
    [[gnu::always_inline]] double value_of_split(std::uint64_t high, std::uint64_t low) const
    {
        const double s = static_cast<double>(static_cast<std::int64_t>(high)) * 0x1p32 +
                         static_cast<double>(static_cast<std::int64_t>(low));
        const double r = s * power_;
        const double size = r < 0 ? -r : r;
        if ((size >= std::numeric_limits<double>::min() && size <= std::numeric_limits<double>::max()) || s == 0)
            return r == 0 ? 0.0 : r;
        return mean_by_division(word_of_split(high, low), 1);
    }

    // The window's sum from its digits' sums, as a double-double: within
    // 2^-104 of the sum relative to its magnitude (exact for sums of up to
    // 106 bits). Finite for every sum of values the scale was made for.
    double_double sum(const wide_sum* sums) const
    {
        // One word below 2^105 at a scale that keeps every part normal.
        if (digits_ == 1 && exponent_ >= -1022 && exponent_ <= 917) {
            const bool negative = sums[0] >> 127;
            const wide_sum m = negative ? -sums[0] : sums[0];
            if ((m >> 105) == 0) {
                const double_double x = exact_pair(m);
                const double sign = negative ? -power_ : power_;
                return {x.hi * sign, x.lo * sign};
            }
        }
        return sum_of_digits(sums);
    }

private:
    static constexpr index_t window_batch = 128;

    // m below 2^105 as s + e exactly, s the double nearest m: A + B with A =
    // floor(m / 2^52) 2^52 and B the rest, both exact doubles, summed
    // exactly (A >= 2^52 > B, or A = 0).
    [[gnu::always_inline]] static double_double exact_pair(wide_sum m)
    {
        const double A = static_cast<double>(static_cast<std::int64_t>(m >> 52)) * 0x1p52;
        const double B =
            static_cast<double>(static_cast<std::int64_t>(static_cast<std::uint64_t>(m) & ((std::uint64_t{1} << 52) - 1)));
        const double s = A + B;
        return {s, B - (s - A)};
    }

    // |sum| as a double, within an ulp or so: signed conversions only, as an
    // unsigned one branches on the top bit, which window sums near 2^64 set
    // at random.
    [[gnu::always_inline]] static double magnitude_estimate(wide_sum sum)
    {
        const wide_sum magnitude = (sum >> 127) ? -sum : sum;
        const auto high = static_cast<std::int64_t>(magnitude >> 64);
        const auto low = static_cast<std::uint64_t>(magnitude);
        return static_cast<double>(high) * 0x1p64 + (static_cast<double>(static_cast<std::int64_t>(low >> 1)) * 2.0 +
                                                     static_cast<double>(static_cast<std::int64_t>(low & 1)));
    }

    // The mean of a window of sum `sum`, correctly rounded, from an estimate
    // of |sum| / cells within a few units of its last place.
    [[gnu::always_inline]] double settled_mean(wide_sum sum, index_t cells, double estimate) const
    {
        const bool negative = sum >> 127;
        const wide_sum magnitude = negative ? -sum : sum;
        const std::uint64_t n = static_cast<std::uint64_t>(cells);
        // The estimate is a quotient Q 2^f (at most six roundings from the
        // mean), moved to the nearest one by an exact residual: cheaper than a
        // division of 128-bit integers. It is normal, as 1 <= magnitude <
        // 2^127 and n < 2^63, so Q lies in 2^52 .. 2^53 and f in -116 .. 75.
        // Twice the residual, magnitude - Q n 2^f, in units of 2^f, is D + L /
        // 2^(f-1), D = floor(magnitude / 2^(f-1)) - 2 Q n and L the bits that
        // floor drops. D is a few n at most, so it is exact in 64 bits taken
        // modulo 2^64 while n < 2^58; larger windows take the division.
        if (magnitude == 0 || n >= (std::uint64_t{1} << 58)) return mean_by_division(sum, cells);
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(estimate);
        const int f = static_cast<int>(bits >> 52) - 1075;
        std::uint64_t Q = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
        const int shift = f - 1;
        const std::uint64_t scaled = shift >= 0 ? static_cast<std::uint64_t>(magnitude >> shift)
                                     : -shift < 128 ? static_cast<std::uint64_t>(magnitude << -shift)
                                                    : 0;
        const bool dropped = shift > 0 && (magnitude & ((wide_sum{1} << shift) - 1)) != 0;
        const auto signed_n = static_cast<std::int64_t>(n);
        auto D = static_cast<std::int64_t>(scaled - 2 * Q * n);
        // Round to nearest, ties to even: twice the residual against +-n 2^f.
        // Steps without branches cover the estimate's usual error; the loop
        // takes the rest.
        const auto step = [&] {
            const bool up = D > signed_n || (D == signed_n && (dropped || (Q & 1)));
            const bool down = D < -signed_n || (D == -signed_n && !dropped && (Q & 1));
            const std::int64_t move = static_cast<std::int64_t>(up) - static_cast<std::int64_t>(down);
            Q += static_cast<std::uint64_t>(move);
            D -= 2 * move * signed_n;
            return move != 0;
        };
        step();
        step();
        while (step()) {
        }
        // Below Q = 2^52 the nearest double lies on a finer grid, above 2^53
        // on a coarser one, and so does a mean below Q = 2^52 itself (D < 0);
        // below s = -1074 the mean is subnormal: all are left to the division.
        constexpr std::uint64_t binade = std::uint64_t{1} << 52;
        const int s = f + exponent_;
        if (Q < binade || (Q == binade && D < 0) || Q > 2 * binade || s < -1074)
            return mean_by_division(sum, cells);
        // Q in 2^52 .. 2^53 (a carry into the next binade included).
        const double r = std::bit_cast<double>((static_cast<std::uint64_t>(s + 1074) << 52) + Q);
        return negative ? -r : r;
    }

    double_double sum_of_digits(const wide_sum* sums) const;

    // The mean by one integer division: correct for every magnitude and
    // count, also when the mean is subnormal.
    double mean_by_division(wide_sum sum, index_t cells) const;

    int exponent_ = 0;     // E
    double power_ = 1.0;   // 2^E, or 0 when it is not a normal double
    int digit_bits_ = 127; // s
    int digits_ = 1;
    int width_ = 0;
};

} // namespace rw
