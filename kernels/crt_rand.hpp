// The random generator of the two sampling maps: a 15-bit linear
// congruential generator, state = state * 214013 + 2531011 modulo 2^32, each
// draw being bits 16..30 of the new state. Its draws are uniform over
// 0..32767, the scale of every sampling and keep threshold, so a wider
// generator would change every selection probability.
//
// One object per call: nothing is shared between calls or threads, and a
// caller that fixes the seed fixes every draw.
#pragma once

#include <cstdint>

namespace rw {

class crt_rand {
public:
    static constexpr std::int32_t max = 32767;

    explicit crt_rand(std::uint32_t seed) : state_(seed) {}

    std::int32_t operator()()
    {
        state_ = state_ * 214013u + 2531011u; // wraps modulo 2^32
        return static_cast<std::int32_t>((state_ >> 16) & 0x7FFFu);
    }

    // The sampling test of threshold t without a branch: draws only when
    // t > 0 and selects when the draw is below t. Selection is random, so a
    // branch on it would be mispredicted half the time.
    bool draw_below(std::int32_t t)
    {
        const std::uint32_t next = state_ * 214013u + 2531011u;
        const bool draws = t > 0;
        state_ = draws ? next : state_;
        return draws & (static_cast<std::int32_t>((next >> 16) & 0x7FFFu) < t);
    }

    // Skips n draws in O(log n) steps: n steps of x -> a x + c are one affine
    // map, built from the maps of 1, 2, 4, ... steps by repeated squaring.
    void discard(std::uint64_t n)
    {
        std::uint32_t mul = 1, add = 0;                // n's steps so far
        std::uint32_t a = 214013u, c = 2531011u;       // 2^i steps
        for (; n != 0; n >>= 1) {
            if (n & 1) {
                mul *= a;
                add = add * a + c;
            }
            c = c * a + c;
            a *= a;
        }
        state_ = state_ * mul + add;
    }

private:
    std::uint32_t state_;
};

} // namespace rw
