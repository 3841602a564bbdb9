// The one rule that decides whether a pixel of a pair changed.
#pragma once

#include <cmath>

#include "core/types.hpp"
#include "pixel_diff/antialiased.hpp"
#include "pixel_diff/color_delta.hpp"

namespace quorvane {

enum class PixelClass : u8 { Unchanged, AntiAliased, Changed };

struct ClassifiedPixel {
    PixelClass kind;
    double delta;  // the signed colour delta; 0.0 when the words are equal
};

// Pixel (x, y) of the pair, baseline first. With include_aa every pixel over
// the limit is Changed; otherwise an anti-aliased edge in either image is not.
inline ClassifiedPixel classify_pixel(const u8* baseline, const u8* current, const u32* baseline_words,
                                      const u32* current_words, u64 x, u64 y, u64 width, u64 height, double max_delta,
                                      bool include_aa) {
    const u64 i = y * width + x;
    if (baseline_words[i] == current_words[i]) return {PixelClass::Unchanged, 0.0};
    const u64 k = i * kBytesPerPixel;
    const double delta = color_delta(baseline, current, k, k, false);
    if (!(std::fabs(delta) > max_delta)) return {PixelClass::Unchanged, delta};
    if (!include_aa && (antialiased(baseline, x, y, width, height, baseline_words, current_words) ||
                        antialiased(current, x, y, width, height, current_words, baseline_words))) {
        return {PixelClass::AntiAliased, delta};
    }
    return {PixelClass::Changed, delta};
}

}  // namespace quorvane
