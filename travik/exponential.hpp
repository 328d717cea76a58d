// exp(x) in plain IEEE arithmetic: no table, no fused multiply-add, so the compiler can
// vectorize loops over it and every machine gets the same digits (the C library picks its
// own code path per processor). Accurate to 1 unit in the last place; results below
// e^-708 (about 3e-308, the subnormal range) are returned as 0.
//
// Loops over it vectorize only when compiled with -fno-trapping-math (the clamps are then
// branch-free selects); that option changes no value.
#pragma once

#include <bit>
#include <cstdint>

namespace travik {

inline double exponential(double argument) {
    // Clamped so that 2^n below stays a normal number.
    double x = argument < -708.0 ? -708.0 : argument;
    x = x > 709.7 ? 709.7 : x;
    // x = n ln2 + r with |r| <= ln2 / 2: n rounded through the 1.5 * 2^52 shift, ln2 split in
    // two parts so that n * ln2hi is exact.
    constexpr double kShift = 0x1.8p52;
    constexpr double kInvLn2 = 0x1.71547652b82fep0;
    constexpr double kLn2Hi = 0x1.62e42fee00000p-1;
    constexpr double kLn2Lo = 0x1.a39ef35793c76p-33;
    double kd = x * kInvLn2 + kShift;
    const std::int64_t n = std::bit_cast<std::int64_t>(kd) - std::bit_cast<std::int64_t>(kShift);
    kd -= kShift;
    const double r = (x - kd * kLn2Hi) - kd * kLn2Lo;
    // Taylor series of e^r to r^13 (truncation below 1e-17 relative on |r| <= 0.347).
    double p = 1.0 / 6227020800.0;
    p = p * r + 1.0 / 479001600.0;
    p = p * r + 1.0 / 39916800.0;
    p = p * r + 1.0 / 3628800.0;
    p = p * r + 1.0 / 362880.0;
    p = p * r + 1.0 / 40320.0;
    p = p * r + 1.0 / 5040.0;
    p = p * r + 1.0 / 720.0;
    p = p * r + 1.0 / 120.0;
    p = p * r + 1.0 / 24.0;
    p = p * r + 1.0 / 6.0;
    p = p * r + 0.5;
    p = p * r + 1.0;
    p = p * r + 1.0;
    const double result = p * std::bit_cast<double>((n + 1023) << 52);
    return argument < -708.0 ? 0.0 : result;
}

} // namespace travik
