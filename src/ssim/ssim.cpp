// The SSIM entry points: the windowed score, which reads the luminance of
// both buffers row by row, or one whole-image window over both luminance maps
// for images too small for the window; clamped to [0.0, 1.0].
#include "ssim/ssim.hpp"

#include <cmath>
#include <cstring>
#include <vector>

#include "core/checked.hpp"
#include "image_utils/pad.hpp"
#include "ssim/luminance.hpp"
#include "ssim/window_formula.hpp"
#include "ssim/windowed.hpp"

namespace quorvane {
namespace {

constexpr u64 kCacheLine = 64;

// The whole image as one window: plain sums in pixel order for the means,
// then population moments from a second pass.
double whole_image_ssim(std::span<const double> x, std::span<const double> y) {
    const u64 n = x.size();
    const double count = static_cast<double>(n);
    double sum_x = 0.0;
    double sum_y = 0.0;
    for (u64 i = 0; i < n; ++i) sum_x += x[i];
    for (u64 i = 0; i < n; ++i) sum_y += y[i];
    const double mean_x = sum_x / count;
    const double mean_y = sum_y / count;

    double squares_x = 0.0;
    double squares_y = 0.0;
    double products = 0.0;
    for (u64 i = 0; i < n; ++i) {
        const double dx = x[i] - mean_x;
        const double dy = y[i] - mean_y;
        squares_x += dx * dx;
        squares_y += dy * dy;
        products += dx * dy;
    }
    return window_value(window_terms(mean_x, mean_y, squares_x / count, squares_y / count, products / count));
}

// Images narrower or lower than the window are scored as one whole window.
bool too_small_for_windows(u64 width, u64 height) { return width < kSsimWindow || height < kSsimWindow; }

using RowStarts = std::span<const u8* const>;

// The rows from the top that two images of `stride`-byte rows share.
u64 shared_rows(RowStarts baseline, RowStarts current, u64 stride) {
    u64 row = 0;
    while (row < baseline.size() && std::memcmp(baseline[row], current[row], stride) == 0) ++row;
    return row;
}

// The rows one after another in one buffer, for the whole-image score.
Bytes joined(RowStarts rows, u64 stride) {
    Bytes out(rows.size() * stride);
    for (u64 row = 0; row < rows.size(); ++row) std::memcpy(out.data() + row * stride, rows[row], stride);
    return out;
}

std::vector<const u8*> row_starts(ByteView image, u64 stride, u64 height) {
    std::vector<const u8*> starts(height);
    for (u64 row = 0; row < height; ++row) starts[row] = image.data() + row * stride;
    return starts;
}

double clamp_score(double score) {
    if (!std::isfinite(score)) return 0.0;
    if (score < 0.0) return 0.0;
    if (score > 1.0) return 1.0;
    return score;
}

}  // namespace

Result<double> ssim_luminance(std::span<const double> x, std::span<const double> y, u64 width, u64 height) {
    auto n = checked_pixel_count(width, height);
    if (!n) return CompareError::dimensions_overflow();
    if (x.size() != *n || y.size() != *n) throw Panic("luminance maps do not match the image size");
    if (*n == 0) return 1.0;
    if (too_small_for_windows(width, height)) return clamp_score(whole_image_ssim(x, y));
    return clamp_score(windowed_ssim(x, y, width, height));
}

Result<double> ssim_rgba(ByteView baseline, ByteView current, u64 width, u64 height) {
    if (auto checked = check_rgba_buffer(baseline, width, height); !checked) return std::move(checked).error();
    if (auto checked = check_rgba_buffer(current, width, height); !checked) return std::move(checked).error();
    if (width == 0) return 1.0;  // no pixels, and no rows to point at
    const u64 stride = width * kBytesPerPixel;
    return ssim_rgba_rows(row_starts(baseline, stride, height), row_starts(current, stride, height), width);
}

double ssim_rgba_rows(RowStarts baseline, RowStarts current, u64 width) {
    if (baseline.size() != current.size()) throw Panic("ssim_rgba_rows: the images have different row counts");
    const u64 height = baseline.size();
    const u64 stride = width * kBytesPerPixel;
    // Equal images score exactly 1.0 (each window's terms are equal bit for
    // bit, as is the whole image's), and so do the windows of equal rows at
    // the top, where every table row made so far is the same for both.
    const u64 shared = width == 0 ? height : shared_rows(baseline, current, stride);
    if (shared == height) return 1.0;
    if (too_small_for_windows(width, height)) {
        const DoubleMap x = to_luminance(joined(baseline, stride)), y = to_luminance(joined(current, stride));
        return clamp_score(whole_image_ssim(x, y));
    }
    const WindowKernels& kernels = fastest_window_kernels();
    // A strip asks for its columns row after row: the next row's are fetched
    // while this one's are converted, which the processor does not foresee.
    const LuminanceRows rows = [&](u64 row, u64 first, u64 count, double* x, double* y) {
        const u64 offset = first * kBytesPerPixel;
        if (row + 1 < height) {
            for (u64 line = 0; line < count * kBytesPerPixel; line += kCacheLine) {
                __builtin_prefetch(baseline[row + 1] + offset + line);
                __builtin_prefetch(current[row + 1] + offset + line);
            }
        }
        kernels.luminance(baseline[row] + offset, count, x);
        kernels.luminance(current[row] + offset, count, y);
    };
    return clamp_score(windowed_ssim(rows, width, height, kernels, rows_of_shared_windows(shared, height)));
}

}  // namespace quorvane
