// The windowed SSIM: five window-mean maps (of x, y, x*x, y*y and x*y) made
// band by band on the pool, combined pixel by pixel in row-major order.
// A band of all five means stays in cache while it is combined, instead of
// five whole maps streaming through memory, and the products are formed row
// by row as the tables grow instead of as whole maps.
#include "ssim/windowed.hpp"

#include <algorithm>
#include <array>

#include "core/parallel.hpp"
#include "ssim/box_mean.hpp"
#include "ssim/double_map.hpp"
#include "ssim/window_formula.hpp"

namespace quorvane {
namespace {

// About 1.3 MB of means per band: small enough to stay in cache, large
// enough that a band's tasks outweigh the cost of handing them out.
constexpr u64 kBandPixels = u64{1} << 15;

struct MeanBand {
    explicit MeanBand(u64 pixels) : x(pixels), y(pixels), xx(pixels), yy(pixels), xy(pixels) {}
    DoubleMap x, y, xx, yy, xy;
};

BoxMeanStream means_of(std::span<const double> map, u64 width, u64 height) {
    return BoxMeanStream(width, height, kSsimWindow,
                         [map, width](u64 row, double* out) { std::copy_n(map.data() + row * width, width, out); });
}

BoxMeanStream means_of_product(std::span<const double> a, std::span<const double> b, u64 width, u64 height) {
    return BoxMeanStream(width, height, kSsimWindow, [a, b, width](u64 row, double* out) {
        const double* a_row = a.data() + row * width;
        const double* b_row = b.data() + row * width;
        for (u64 i = 0; i < width; ++i) out[i] = a_row[i] * b_row[i];
    });
}

class WindowMeans {
public:
    // `split`: the tasks go to the pool, for images large enough to gain.
    WindowMeans(std::span<const double> x, std::span<const double> y, u64 width, u64 height, bool split)
        : split_(split),
          x_(means_of(x, width, height)),
          y_(means_of(y, width, height)),
          xx_(means_of_product(x, x, width, height)),
          yy_(means_of_product(y, y, width, height)),
          xy_(means_of_product(x, y, width, height)) {}

    // The next `rows` rows of all five means, as independent tasks: the means
    // of x and y in one branch, the three means of products in the other.
    void fill(MeanBand& band, u64 rows) {
        auto x_means = [&] { x_.next_rows(rows, band.x.data()); };
        auto y_means = [&] { y_.next_rows(rows, band.y.data()); };
        auto xx_means = [&] { xx_.next_rows(rows, band.xx.data()); };
        auto yy_means = [&] { yy_.next_rows(rows, band.yy.data()); };
        auto xy_means = [&] { xy_.next_rows(rows, band.xy.data()); };
        fork_join_if(
            split_, [&] { fork_join_if(split_, x_means, y_means); },
            [&] { fork_join_if(split_, xx_means, [&] { fork_join_if(split_, yy_means, xy_means); }); });
    }

private:
    bool split_;
    BoxMeanStream x_, y_, xx_, yy_, xy_;
};

// Adds the SSIM of each of the band's first `pixels` windows to `total`, in
// row-major order. The numerators and denominators of a short run are
// computed first, where the divisions vectorise; the rare zero denominator
// is resolved as the values are added one by one.
double add_band(const MeanBand& band, u64 pixels, double total) {
    constexpr u64 kRun = 256;
    std::array<double, kRun> quotients;
    std::array<double, kRun> denominators;
    for (u64 start = 0; start < pixels; start += kRun) {
        const u64 count = std::min(kRun, pixels - start);
        const double* mean_x = band.x.data() + start;
        const double* mean_y = band.y.data() + start;
        const double* mean_xx = band.xx.data() + start;
        const double* mean_yy = band.yy.data() + start;
        const double* mean_xy = band.xy.data() + start;
        for (u64 i = 0; i < count; ++i) {
            // Small negative variances from rounding are used as they come.
            const WindowTerms terms =
                window_terms(mean_x[i], mean_y[i], mean_xx[i] - mean_x[i] * mean_x[i],
                             mean_yy[i] - mean_y[i] * mean_y[i], mean_xy[i] - mean_x[i] * mean_y[i]);
            quotients[i] = terms.numerator / terms.denominator;
            denominators[i] = terms.denominator;
        }
        for (u64 i = 0; i < count; ++i) total += denominators[i] == 0.0 ? 1.0 : quotients[i];
    }
    return total;
}

}  // namespace

// Every pixel's window counts, borders included. While one band is summed,
// the pool computes the means of the next. The values are summed in one chain
// in row-major order, a band's sum never starting before the previous one's
// ends, so the score depends neither on scheduling nor on the thread summing.
double windowed_ssim(std::span<const double> x, std::span<const double> y, u64 width, u64 height) {
    const bool split = worth_splitting(x.size());
    WindowMeans means(x, y, width, height, split);
    const u64 band_rows = std::clamp<u64>(kBandPixels / width, 1, height);
    std::array<MeanBand, 2> bands{MeanBand(band_rows * width), MeanBand(band_rows * width)};

    double total = 0.0;
    means.fill(bands[0], band_rows);
    for (u64 first = 0, current = 0; first < height; first += band_rows, current ^= 1) {
        const u64 pixels = std::min(band_rows, height - first) * width;
        if (first + band_rows >= height) {
            total = add_band(bands[current], pixels, total);
        } else {
            fork_join_if(
                split, [&] { means.fill(bands[current ^ 1], band_rows); },
                [&] { total = add_band(bands[current], pixels, total); });
        }
    }
    return total / static_cast<double>(width * height);
}

}  // namespace quorvane
