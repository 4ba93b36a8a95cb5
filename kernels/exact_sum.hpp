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

#include "raster_window.hpp"

#include <bit>
#include <cstdint>

namespace rw {

__extension__ typedef unsigned __int128 wide_sum; // GCC and Clang both have it

// How values become integers: value = sum over digits d of digit(value, d)
// * 2^(E + s d), each digit a signed integer below 2^s in magnitude.
class value_scale {
public:
    value_scale() = default;
    // Over the n values that may be added (0, infinities and NaN are
    // skipped), for windows of at most most_cells cells.
    value_scale(const double* values, index_t n, index_t most_cells);

    int digits() const { return digits_; }

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

private:
    double mean_of_word(wide_sum sum, index_t cells) const;

    int exponent_ = 0;     // E
    int digit_bits_ = 127; // s
    int digits_ = 1;
};

} // namespace rw
