// value × multiplier / divisor rounded down or up, exact for any int64 operands whose result fits
// in 64 bits: the virtual clocks' frame counts times rates times 10^9 overflow 64 bits, and 32-bit
// builds have no 128-bit integer type.
#pragma once

#include <cstdint>

namespace exact_ratio {

struct Wide {
    uint64_t high = 0;
    uint64_t low = 0;
};

inline Wide Multiply(uint64_t a, uint64_t b)
{
    const uint64_t a0 = uint32_t(a), a1 = a >> 32, b0 = uint32_t(b), b1 = b >> 32;
    const uint64_t low = a0 * b0, middle1 = a1 * b0, middle2 = a0 * b1, high = a1 * b1;
    const uint64_t carry = ((low >> 32) + uint32_t(middle1) + uint32_t(middle2)) >> 32;
    return {high + (middle1 >> 32) + (middle2 >> 32) + carry, a * b};
}

inline Wide Add(Wide a, uint64_t b) { return {a.high + (a.low + b < a.low ? 1 : 0), a.low + b}; }

// The low 64 bits of the quotient, divisor > 0.
inline uint64_t Divide(Wide dividend, uint64_t divisor)
{
    uint64_t quotient = 0, remainder = 0;
    for (int bit = 127; bit >= 0; --bit) {
        const uint64_t next = bit >= 64 ? (dividend.high >> (bit - 64)) & 1 : (dividend.low >> bit) & 1;
        const bool overflow = remainder >> 63;
        remainder = remainder << 1 | next;
        if (overflow || remainder >= divisor) {
            remainder -= divisor;
            if (bit < 64) quotient |= uint64_t(1) << bit;
        }
    }
    return quotient;
}

inline uint64_t Magnitude(int64_t v) { return v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v); }

// |a × b| / |d| rounded up (roundUp) or down.
inline uint64_t Ratio(uint64_t a, uint64_t b, uint64_t d, bool roundUp)
{
    const Wide product = Multiply(a, b);
    return Divide(roundUp ? Add(product, d - 1) : product, d);
}

}  // namespace exact_ratio

// floor(value × multiplier / divisor)
inline int64_t MulDivFloor(int64_t value, int64_t multiplier, int64_t divisor)
{
    using namespace exact_ratio;
    const bool negative = ((value < 0) != (multiplier < 0)) != (divisor < 0);
    const uint64_t q = Ratio(Magnitude(value), Magnitude(multiplier), Magnitude(divisor), negative);
    return negative ? -int64_t(q) : int64_t(q);
}

// ceil(value × multiplier / divisor)
inline int64_t MulDivCeil(int64_t value, int64_t multiplier, int64_t divisor)
{
    return -MulDivFloor(-value, multiplier, divisor);
}
