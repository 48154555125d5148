#pragma once
// std::hypot for floats without the library call. The C library computes it
// for finite arguments as the double sum of the two squares, its root rounded
// once to float; the squares of floats are exact in double, so the sum
// rounds once whether or not the compiler fuses it into a multiply-add, and
// this gives the library's float bit for bit. Infinities and NaNs go to the
// library (hypot(inf, NaN) is inf). The geometry tests hold it to
// std::hypot.
#include <cfloat>
#include <cmath>

inline float fastHypot(float x, float y)
{
    if (!(std::fabs(x) <= FLT_MAX) || !(std::fabs(y) <= FLT_MAX))
        return std::hypot(x, y);
    return float(std::sqrt(double(x) * double(x) + double(y) * double(y)));
}
