// Overflow-checked size arithmetic: every buffer length is derived through here.
#pragma once

#include <optional>

#include "core/types.hpp"

namespace quorvane {

inline std::optional<u64> checked_mul(u64 a, u64 b) {
    u64 product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
    return product;
}

// width * height, then * 4; either step overflowing means the size cannot exist.
inline std::optional<u64> checked_pixel_count(u64 width, u64 height) {
    auto pixels = checked_mul(width, height);
    if (!pixels || !checked_mul(*pixels, kBytesPerPixel)) return std::nullopt;
    return pixels;
}

inline std::optional<u64> checked_rgba_length(u64 width, u64 height) {
    auto pixels = checked_pixel_count(width, height);
    if (!pixels) return std::nullopt;
    return *pixels * kBytesPerPixel;
}

}  // namespace quorvane
