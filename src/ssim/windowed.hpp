// SSIM with an 11 x 11 box window centred on every pixel.
#pragma once

#include <functional>
#include <span>

#include "core/types.hpp"
#include "ssim/window_kernels.hpp"

namespace quorvane {

inline constexpr u64 kSsimWindow = 11;

// rows(row, first, count, x, y) writes the luminance values of columns
// first .. first + count - 1 of source row `row` of each image to x and y.
using LuminanceRows = std::function<void(u64 row, u64 first, u64 count, double* x, double* y)>;

// The mean over all pixels of each window's SSIM, unclamped. The images are
// width x height, both at least the window. Source rows are asked for in
// order, a strip of columns at a time. The windows of the first `ones_rows`
// rows must read only rows the two images share: each of them is exactly
// 1.0, which is counted instead of computed.
double windowed_ssim(const LuminanceRows& rows, u64 width, u64 height, const WindowKernels& kernels, u64 ones_rows = 0);

// The rows whose windows read only the first `shared_rows` rows of a
// width x height pair, which the two images have in common.
u64 rows_of_shared_windows(u64 shared_rows, u64 height);

// The same over two luminance maps of width * height values each.
double windowed_ssim(std::span<const double> x, std::span<const double> y, u64 width, u64 height);

}  // namespace quorvane
