// SSIM with an 11 x 11 box window centred on every pixel.
#pragma once

#include <span>

#include "core/types.hpp"

namespace quorvane {

inline constexpr u64 kSsimWindow = 11;

// The mean over all pixels of each window's SSIM, unclamped. Both maps hold
// width * height luminance values; width and height are at least the window.
double windowed_ssim(std::span<const double> x, std::span<const double> y, u64 width, u64 height);

}  // namespace quorvane
