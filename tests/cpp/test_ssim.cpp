// The SSIM internals that Python cannot reach: mirror indexing, the order of
// every addition in the window means, and the guards. The means' values are
// checked against scipy from Python.
#include <cmath>
#include <limits>

#include "check.hpp"
#include "ssim/box_mean.hpp"
#include "ssim/ssim.hpp"

using namespace quorvane;

TEST("reflect_index mirrors about the edge pixel without repeating it") {
    const std::int64_t cases[][3] = {
        // index, extent, expected
        {0, 5, 0},  {4, 5, 4}, {-1, 5, 1}, {-2, 5, 2}, {-5, 5, 3}, {5, 5, 3}, {6, 5, 2},  {9, 5, 1},
        {-1, 2, 1}, {2, 2, 0}, {-3, 2, 1}, {5, 2, 1},  {-7, 3, 1}, {7, 3, 1}, {-4, 3, 0},  // several bounces
        {-5, 1, 0}, {0, 1, 0}, {5, 1, 0},                                                  // a single row or column
    };
    for (const auto& [index, extent, expected] : cases) CHECK_EQ(reflect_index(index, u64(extent)), u64(expected));
}

namespace {

// The window means as the definition reads, the table written out whole: a
// mirrored copy, S[p + 1][q + 1] = running row sum + S[p][q + 1], then four
// corners per pixel.
DoubleMap whole_table_mean(const DoubleMap& map, u64 width, u64 height) {
    constexpr u64 window = 11, radius = 5;
    const u64 padded_width = width + 2 * radius, stride = padded_width + 1;
    std::vector<double> table(stride * (height + 2 * radius + 1), 0.0);
    for (u64 p = 0; p < height + 2 * radius; ++p) {
        double row_sum = 0.0;
        const u64 row = reflect_index(static_cast<std::int64_t>(p - radius), height);
        for (u64 q = 0; q < padded_width; ++q) {
            row_sum += map[row * width + reflect_index(static_cast<std::int64_t>(q - radius), width)];
            table[(p + 1) * stride + q + 1] = row_sum + table[p * stride + q + 1];
        }
    }
    DoubleMap means(width * height);
    const auto at = [&](u64 p, u64 q) { return table[p * stride + q]; };
    for (u64 y = 0; y < height; ++y) {
        for (u64 x = 0; x < width; ++x) {
            means[y * width + x] = (at(y + window, x + window) - at(y, x + window) - at(y + window, x) + at(y, x)) /
                                   static_cast<double>(window * window);
        }
    }
    return means;
}

}  // namespace

TEST("ssim_luminance over many bands equals the whole-map computation bit for bit") {
    // 700 x 400 also crosses the size at which the means run on the pool.
    for (const auto& [width, height] : {std::pair<u64, u64>{11, 11}, {23, 3000}, {700, 400}, {5000, 12}}) {
        const Bytes levels = random_bytes(width * height * 2, static_cast<unsigned>(width));
        DoubleMap x(width * height), y(width * height), xx(x.size()), yy(x.size()), xy(x.size());
        for (u64 i = 0; i < x.size(); ++i) {
            x[i] = levels[2 * i] + levels[2 * i + 1] / 256.0;
            y[i] = (levels[2 * i + 1] + 3.0 * x[i]) / 4.0;  // related, so scores are mid-range
            xx[i] = x[i] * x[i], yy[i] = y[i] * y[i], xy[i] = x[i] * y[i];
        }
        const DoubleMap mx = whole_table_mean(x, width, height), my = whole_table_mean(y, width, height);
        const DoubleMap mxx = whole_table_mean(xx, width, height), myy = whole_table_mean(yy, width, height);
        const DoubleMap mxy = whole_table_mean(xy, width, height);
        double total = 0.0;
        for (u64 i = 0; i < x.size(); ++i) {
            const double sx = mxx[i] - mx[i] * mx[i], sy = myy[i] - my[i] * my[i], sxy = mxy[i] - mx[i] * my[i];
            const double denominator = (mx[i] * mx[i] + my[i] * my[i] + 6.5025) * (sx + sy + 58.5225);
            total += denominator == 0.0 ? 1.0 : ((2.0 * mx[i] * my[i] + 6.5025) * (2.0 * sxy + 58.5225)) / denominator;
        }
        const double expected = total / static_cast<double>(x.size());
        REQUIRE(expected > 0.1 && expected < 0.99);
        auto score = ssim_luminance(x, y, width, height);
        REQUIRE(score.ok());
        CHECK_EQ(*score, expected);
    }
}

TEST("degenerate arithmetic scores 0.0 on both paths; empty maps, wrong sizes and short buffers are refused") {
    for (const u64 side : {u64{4}, u64{12}}) {
        const DoubleMap x(side * side, 100.0);
        DoubleMap with_nan = x, with_infinity = x;
        with_nan[side + 1] = std::numeric_limits<double>::quiet_NaN();
        with_infinity[0] = std::numeric_limits<double>::infinity();
        CHECK(*ssim_luminance(x, with_nan, side, side) == 0.0 && *ssim_luminance(x, with_infinity, side, side) == 0.0);
    }
    CHECK(box_mean({}, 0, 4, 11).empty() && box_mean({}, 4, 0, 11).empty());
    CHECK(throws<Panic>([] { (void)box_mean(DoubleMap(3, 1.0), 2, 2, 11); }));
    const std::string overflow = "image dimensions overflowed";
    const std::string short_text = "invalid RGBA buffer length: expected 16 bytes for 2x2, got 15";
    CHECK_EQ(outcome(ssim_luminance({}, {}, u64{1} << 32, u64{1} << 31)), overflow);
    CHECK_EQ(outcome(ssim_rgba({}, {}, u64{1} << 31, u64{1} << 31)), overflow);
    CHECK_EQ(outcome(ssim_rgba(Bytes(16, 0), Bytes(15, 0), 2, 2)), short_text);
    CHECK_EQ(outcome(ssim_rgba(Bytes(15, 0), Bytes(3, 0), 2, 2)), short_text);
}
