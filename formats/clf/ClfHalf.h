#pragma once

// Half floats (IEEE 754 binary16) as process lists use them: the raw bit
// patterns of a rawHalfs Array, and the half-float domain of a LUT1D whose
// entry i stands for the half with bit pattern i.

#include <cmath>

namespace LutClf {

// The value of the half whose bit pattern is bits (0..65535).
inline double halfToDouble(unsigned bits)
{
    const double sign = (bits & 0x8000u) ? -1.0 : 1.0;
    const int exponent = int((bits >> 10) & 0x1fu);
    const unsigned mantissa = bits & 0x3ffu;
    if (exponent == 0)
        return sign * std::ldexp(double(mantissa), -24);
    if (exponent == 31)
        return mantissa ? double(NAN) : sign * double(INFINITY);
    return sign * std::ldexp(double(mantissa | 0x400u), exponent - 25);
}

// The bit pattern of the finite half float nearest to x towards zero, with
// x's sign; magnitudes from the largest half (65504) on take the largest.
inline unsigned halfBitsTowardZero(double x)
{
    const double a = std::fabs(x);
    unsigned bits;
    if (!(a < 65504.0)) {
        bits = 0x7bffu;
    } else if (a < std::ldexp(1.0, -14)) {
        bits = unsigned(std::floor(std::ldexp(a, 24)));
    } else {
        int e = 0;
        const double fraction = std::frexp(a, &e); // a = fraction * 2^e, fraction in [0.5, 1)
        const unsigned mantissa = unsigned(std::floor((fraction * 2.0 - 1.0) * 1024.0));
        bits = (unsigned(e - 1 + 15) << 10) | mantissa;
    }
    return std::signbit(x) ? bits | 0x8000u : bits;
}

} // namespace LutClf
