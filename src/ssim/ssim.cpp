// The SSIM score: luminance of both buffers, then either the windowed or the
// whole-image formula, clamped to [0.0, 1.0].
#include "ssim/ssim.hpp"

#include <cmath>

#include "core/checked.hpp"
#include "core/parallel.hpp"
#include "image_utils/pad.hpp"
#include "ssim/box_mean.hpp"
#include "ssim/luminance.hpp"

namespace quorvane {
namespace {

// (0.01 * 255)^2 and (0.03 * 255)^2, written out so no rounding of the
// products creeps in.
constexpr double kC1 = 6.5025;
constexpr double kC2 = 58.5225;

// The SSIM of one window from its means, variances and covariance. Identical
// inputs give numerator == denominator, hence exactly 1.0.
inline double window_ssim(double mean_x, double mean_y, double variance_x, double variance_y, double covariance) {
    const double denominator = (mean_x * mean_x + mean_y * mean_y + kC1) * (variance_x + variance_y + kC2);
    if (denominator == 0.0) return 1.0;
    return ((2.0 * mean_x * mean_y + kC1) * (2.0 * covariance + kC2)) / denominator;
}

// The whole image as one window: population moments from a second pass.
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
    return window_ssim(mean_x, mean_y, squares_x / count, squares_y / count, products / count);
}

DoubleMap product_map(std::span<const double> a, std::span<const double> b) {
    DoubleMap product(a.size());
    for (u64 i = 0; i < a.size(); ++i) product[i] = a[i] * b[i];
    return product;
}

// The five window means, as independent pool tasks for large images: the
// means of x and y in one branch, the product maps and their means in the
// other.
struct WindowMeans {
    DoubleMap x, y, xx, yy, xy;
};

WindowMeans window_means(std::span<const double> x, std::span<const double> y, u64 width, u64 height) {
    WindowMeans means;
    auto mean_of = [&](std::span<const double> map) { return box_mean(map, width, height, kSsimWindow); };
    auto run = [parallel = worth_splitting(x.size())](auto&& a, auto&& b) {
        if (parallel) {
            fork_join(a, b);
        } else {
            a();
            b();
        }
    };
    run([&] { run([&] { means.x = mean_of(x); }, [&] { means.y = mean_of(y); }); },
        [&] {
            DoubleMap xx = product_map(x, x);
            DoubleMap yy = product_map(y, y);
            DoubleMap xy = product_map(x, y);
            run([&] { means.xx = mean_of(xx); },
                [&] { run([&] { means.yy = mean_of(yy); }, [&] { means.xy = mean_of(xy); }); });
        });
    return means;
}

// Every pixel's window counts, borders included; the sum runs in row-major
// order on the calling thread, so the score never depends on scheduling.
double windowed_ssim(std::span<const double> x, std::span<const double> y, u64 width, u64 height) {
    const WindowMeans means = window_means(x, y, width, height);
    const u64 n = x.size();
    double total = 0.0;
    for (u64 i = 0; i < n; ++i) {
        const double mean_x = means.x[i];
        const double mean_y = means.y[i];
        const double variance_x = means.xx[i] - mean_x * mean_x;
        const double variance_y = means.yy[i] - mean_y * mean_y;
        const double covariance = means.xy[i] - mean_x * mean_y;
        total += window_ssim(mean_x, mean_y, variance_x, variance_y, covariance);
    }
    return total / static_cast<double>(n);
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
    if (width < kSsimWindow || height < kSsimWindow) return clamp_score(whole_image_ssim(x, y));
    return clamp_score(windowed_ssim(x, y, width, height));
}

Result<double> ssim_rgba(ByteView baseline, ByteView current, u64 width, u64 height) {
    if (auto checked = check_rgba_buffer(baseline, width, height); !checked) return std::move(checked).error();
    if (auto checked = check_rgba_buffer(current, width, height); !checked) return std::move(checked).error();
    DoubleMap x;
    DoubleMap y;
    auto convert_x = [&] { x = to_luminance(baseline); };
    auto convert_y = [&] { y = to_luminance(current); };
    if (worth_splitting(baseline.size() / kBytesPerPixel)) {
        fork_join(convert_x, convert_y);
    } else {
        convert_x();
        convert_y();
    }
    return ssim_luminance(x, y, width, height);
}

}  // namespace quorvane
