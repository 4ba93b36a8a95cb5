// Double-double numbers: an unevaluated sum hi + lo of two doubles, |lo| at
// most half an ulp of hi, carrying about 106 bits. The error-free steps
// (Knuth's two-sum, Dekker's product by splitting) use only additions and
// products rounded to nearest, so they hold under -ffp-contract=off and need
// no fused multiply-add (code built for a processor with one may use it). Finite operands well inside the exponent range
// only: a product near overflow or deep in the subnormals loses the bound.
#pragma once

#include <cmath>

namespace rw {

struct double_double {
    double hi = 0.0, lo = 0.0;
};

// a + b exactly, as s + error.
inline double_double two_sum(double a, double b)
{
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// a * b exactly, as p + error: by Dekker's splitting, or (fused) by one
// fused multiply-add, for code built for a processor that has one. The
// error is exact either way, so both give the same bits.
template <bool fused = false>
inline double_double two_product(double a, double b)
{
    const double p = a * b;
    if constexpr (fused) {
        return {p, std::fma(a, b, -p)};
    } else {
        constexpr double split = 134217729.0; // 2^27 + 1
        const double ca = split * a, cb = split * b;
        const double a_hi = ca - (ca - a), a_lo = a - a_hi;
        const double b_hi = cb - (cb - b), b_lo = b - b_hi;
        return {p, ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo};
    }
}

// Relative error below 2^-104 for the sum of two double-doubles of one sign;
// for mixed signs the error is below 2^-104 times the larger magnitude.
inline double_double operator+(double_double a, double_double b)
{
    double_double s = two_sum(a.hi, b.hi);
    const double_double t = two_sum(a.lo, b.lo);
    s.lo += t.hi;
    s = two_sum(s.hi, s.lo);
    s.lo += t.lo;
    return two_sum(s.hi, s.lo);
}

inline double_double operator-(double_double a) { return {-a.hi, -a.lo}; }
inline double_double operator-(double_double a, double_double b) { return a + -b; }

// Relative error below 2^-104 (fused: as two_product).
template <bool fused = false>
inline double_double product(double_double a, double_double b)
{
    double_double p = two_product<fused>(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return two_sum(p.hi, p.lo);
}

inline double_double operator*(double_double a, double_double b) { return product(a, b); }

// Relative error below 2^-103 (b not zero).
inline double_double operator/(double_double a, double_double b)
{
    const double q1 = a.hi / b.hi;
    const double_double r = a - b * double_double{q1, 0.0};
    const double q2 = r.hi / b.hi;
    const double_double r2 = r - b * double_double{q2, 0.0};
    const double q3 = r2.hi / b.hi;
    const double_double q = two_sum(q1, q2);
    return q + double_double{q3, 0.0};
}

// The double nearest hi + lo (faithful when hi + lo lies within an ulp of a
// tie; the error bounds above dwarf that).
inline double to_double(double_double a) { return a.hi + a.lo; }

} // namespace rw
