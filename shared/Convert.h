// The number rules of the motion arithmetic: values computed in floating point are taken to
// the nearest integer with ties to the even one (482.5 gives 482, 483.5 gives 484, -0.5
// gives 0), and integer arithmetic detects overflow instead of wrapping.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

class OverflowError : public std::overflow_error
{
public:
    OverflowError() : std::overflow_error("Overflow") {}
};

namespace convert {

// Nearest integer, ties to even, whatever the current rounding mode.
inline double RoundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff < 0.5)
        return floor;
    if (diff > 0.5)
        return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

template <class Int> Int Checked(double value)
{
    if (!std::isfinite(value))
        throw OverflowError();
    const double rounded = RoundHalfEven(value);
    if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<Int>::max()))
        throw OverflowError();
    return static_cast<Int>(rounded);
}

template <class Int> Int CheckedInt(long long value)
{
    if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max())
        throw OverflowError();
    return static_cast<Int>(value);
}

} // namespace convert

// To a 16-bit signed integer.
inline std::int16_t CInt(double value)
{
    return convert::Checked<std::int16_t>(value);
}
// To a 32-bit signed integer.
inline std::int32_t CLng(double value)
{
    return convert::Checked<std::int32_t>(value);
}
// 16-bit signed arithmetic.
inline std::int16_t Add16(long long a, long long b)
{
    return convert::CheckedInt<std::int16_t>(a + b);
}
inline std::int16_t Sub16(long long a, long long b)
{
    return convert::CheckedInt<std::int16_t>(a - b);
}
inline std::int16_t Mul16(long long a, long long b)
{
    return convert::CheckedInt<std::int16_t>(a * b);
}
// 32-bit signed arithmetic.
inline std::int32_t Add32(long long a, long long b)
{
    return convert::CheckedInt<std::int32_t>(a + b);
}
inline std::int32_t Sub32(long long a, long long b)
{
    return convert::CheckedInt<std::int32_t>(a - b);
}
