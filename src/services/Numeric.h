#pragma once
// Number conversions shared by every rule: floating-point values become whole
// numbers by rounding to nearest with halves to the even neighbour, and never
// by undefined behaviour when the value does not fit.
#include <cmath>
#include <cstdint>
#include <limits>

namespace dm {

// std::nearbyint honours the current rounding mode, which the program never
// changes from round-to-nearest-even.
inline double roundHalfEven(double v) { return std::nearbyint(v); }

// Rounds half to even and clamps into Int's range; NaN gives 0.
template <class Int>
[[nodiscard]] Int roundToInt(double v)
{
    if (std::isnan(v))
        return 0;
    const double r = roundHalfEven(v);
    constexpr auto lo = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr auto hi = static_cast<double>(std::numeric_limits<Int>::max());
    if (r <= lo)
        return std::numeric_limits<Int>::min();
    if (r >= hi)
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(r);
}

// Like roundToInt, but reports whether the value fitted.
template <class Int>
[[nodiscard]] bool roundToIntChecked(double v, Int& out)
{
    if (!std::isfinite(v))
        return false;
    const double r = roundHalfEven(v);
    if (r < static_cast<double>(std::numeric_limits<Int>::min())
        || r > static_cast<double>(std::numeric_limits<Int>::max()))
        return false;
    out = static_cast<Int>(r);
    return true;
}

} // namespace dm
