// The faded grey in which a diff image shows an unchanged pixel, one pixel
// at a time or a run of pixels at once.
#pragma once

#include <algorithm>

#include "core/types.hpp"
#include "pixel_diff/color_delta.hpp"

namespace quorvane {

namespace gray {

// Every product of a channel value with its brightness weight, and every
// opacity fraction a / 255, computed once with the same arithmetic the
// formula names; a look-up gives exactly the value the operation would.
struct Tables {
    double red[256], green[256], blue[256], opacity[256];
};

constexpr Tables make_tables() {
    Tables tables{};
    for (int v = 0; v < 256; ++v) {
        const double value = v;
        tables.red[v] = value * color::kYr;
        tables.green[v] = value * color::kYg;
        tables.blue[v] = value * color::kYb;
        tables.opacity[v] = value / color::kAlphaScale;
    }
    return tables;
}

inline constexpr Tables kTables = make_tables();

}  // namespace gray

// The baseline's brightness faded towards white by `alpha` (0: white, 1: the
// brightness itself) and by the pixel's own opacity; truncated, not rounded.
inline u8 gray_pixel(u8 r, u8 g, u8 b, u8 a, double alpha) {
    const gray::Tables& t = gray::kTables;
    const double y = (t.red[r] + t.green[g]) + t.blue[b];
    const double v = 255.0 + t.opacity[a] * (alpha * (y - 255.0));
    return static_cast<u8>(static_cast<int>(std::clamp(v, 0.0, 255.0)));
}

// Pixels [begin, end) of `source` as opaque grey at the same places of `out`,
// by the fastest path of the row rule.
void draw_gray_pixels(const u8* source, u8* out, u64 begin, u64 end, double alpha);

// The same pixel by pixel: the reference the vector paths match.
void draw_gray_pixels_scalar(const u8* source, u8* out, u64 begin, u64 end, double alpha);

}  // namespace quorvane
