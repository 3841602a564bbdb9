// The faded grey in which a diff image shows an unchanged baseline pixel.
#pragma once

#include <algorithm>

#include "core/types.hpp"
#include "pixel_diff/color_delta.hpp"

namespace quorvane {

// The baseline's brightness faded towards white by `alpha` (0: white, 1: the
// brightness itself) and by the pixel's own opacity; truncated, not rounded.
inline u8 gray_pixel(u8 r, u8 g, u8 b, u8 a, double alpha) {
    using namespace color;
    const double y = (r * kYr + g * kYg) + b * kYb;
    const double v = 255.0 + (a / kAlphaScale) * (alpha * (y - 255.0));
    return static_cast<u8>(static_cast<int>(std::clamp(v, 0.0, 255.0)));
}

}  // namespace quorvane
