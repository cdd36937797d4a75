#pragma once

// The value of a computed number that cannot be determined. Every undefined result leaves the core
// with exactly this bit pattern (a quiet NaN), so a result compared byte for byte is reproducible.

#include <bit>
#include <cmath>
#include <cstdint>

constexpr std::uint64_t UNDEFINED_VALUE_BITS = 0xFFF8000000000000ull;
constexpr double kUndefined = std::bit_cast<double>(UNDEFINED_VALUE_BITS);

// Any NaN counts as undefined, whatever its bits.
inline bool IsUndefined(double value)
{
    return std::isnan(value);
}
