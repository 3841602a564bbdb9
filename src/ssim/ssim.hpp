// Structural similarity of two images on luminance: 11 x 11 box windows at
// every pixel, or one whole-image window for images too small for them.
#pragma once

#include <span>

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// SSIM of two equally sized RGBA buffers, in [0.0, 1.0]. Rows are taken as
// they stand, so callers may pass any two stacks of corresponding rows.
Result<double> ssim_rgba(ByteView baseline, ByteView current, u64 width, u64 height);

// The same over rows that lie anywhere: row y of each image is the `width`
// RGBA pixels at baseline_rows[y] and current_rows[y], as many rows in each.
// Scores rows picked out of images without copying them.
double ssim_rgba_rows(std::span<const u8* const> baseline_rows, std::span<const u8* const> current_rows, u64 width);

// SSIM of two luminance maps of width * height values each, in [0.0, 1.0];
// 1.0 for an empty image, 0.0 when the arithmetic degenerates to NaN.
Result<double> ssim_luminance(std::span<const double> x, std::span<const double> y, u64 width, u64 height);

}  // namespace quorvane
