// The SSIM internals that Python cannot reach: mirror indexing, the order of
// every addition in the window means, and the guards. The means' values are
// checked against scipy from Python.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "check.hpp"
#include "ssim/box_mean.hpp"
#include "ssim/ssim.hpp"

using namespace quorvane;

TEST("reflect_index mirrors about the edge pixel without repeating it") {
    struct Case {
        std::int64_t index;
        u64 extent;
        u64 expected;
    };
    const Case cases[] = {
        {0, 5, 0}, {4, 5, 4}, {-1, 5, 1}, {-2, 5, 2}, {-5, 5, 3}, {5, 5, 3}, {6, 5, 2}, {9, 5, 1},
        {-1, 2, 1}, {2, 2, 0}, {-3, 2, 1}, {5, 2, 1},
        {-7, 3, 1}, {7, 3, 1}, {-4, 3, 0},  // several bounces
        {-5, 1, 0}, {0, 1, 0}, {5, 1, 0},   // a single row or column
    };
    for (const Case& c : cases) CHECK_EQ(reflect_index(c.index, c.extent), c.expected);
}

// The table written out whole, as the definition reads: a mirrored copy,
// S[p + 1][q + 1] = running row sum + S[p][q + 1], then four corners per pixel.
DoubleMap whole_table_mean(const DoubleMap& map, u64 width, u64 height, u64 window) {
    const u64 radius = window / 2;
    const u64 padded_width = width + 2 * radius;
    const u64 padded_height = height + 2 * radius;
    std::vector<double> table((padded_width + 1) * (padded_height + 1), 0.0);
    for (u64 p = 0; p < padded_height; ++p) {
        double row_sum = 0.0;
        const u64 row = reflect_index(static_cast<std::int64_t>(p) - static_cast<std::int64_t>(radius), height);
        for (u64 q = 0; q < padded_width; ++q) {
            const u64 column = reflect_index(static_cast<std::int64_t>(q) - static_cast<std::int64_t>(radius), width);
            row_sum += map[row * width + column];
            table[(p + 1) * (padded_width + 1) + q + 1] = row_sum + table[p * (padded_width + 1) + q + 1];
        }
    }
    DoubleMap means(width * height);
    const auto at = [&](u64 p, u64 q) { return table[p * (padded_width + 1) + q]; };
    for (u64 y = 0; y < height; ++y) {
        for (u64 x = 0; x < width; ++x) {
            means[y * width + x] = (at(y + window, x + window) - at(y, x + window) - at(y + window, x) + at(y, x)) /
                                   static_cast<double>(window * window);
        }
    }
    return means;
}

DoubleMap fractional_map(u64 width, u64 height, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> level(0.0, 255.0);
    DoubleMap map(width * height);
    for (double& value : map) value = level(random);
    return map;
}

TEST("ssim_luminance over many bands equals the whole-map computation bit for bit") {
    // 700 x 400 also crosses the size at which the means run on the pool.
    for (const auto& [width, height] : {std::pair<u64, u64>{11, 11}, {23, 3000}, {700, 400}, {5000, 12}}) {
        const DoubleMap x = fractional_map(width, height, 7);
        DoubleMap y = fractional_map(width, height, 8);
        for (u64 i = 0; i < y.size(); ++i) y[i] = (y[i] + 3.0 * x[i]) / 4.0;  // related, so scores are mid-range
        DoubleMap xx(x.size()), yy(x.size()), xy(x.size());
        for (u64 i = 0; i < x.size(); ++i) {
            xx[i] = x[i] * x[i];
            yy[i] = y[i] * y[i];
            xy[i] = x[i] * y[i];
        }
        const DoubleMap mx = whole_table_mean(x, width, height, 11), my = whole_table_mean(y, width, height, 11);
        const DoubleMap mxx = whole_table_mean(xx, width, height, 11), myy = whole_table_mean(yy, width, height, 11);
        const DoubleMap mxy = whole_table_mean(xy, width, height, 11);
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

TEST("box_mean of an empty map is empty; a map of the wrong size is a broken invariant") {
    CHECK(box_mean({}, 0, 4, 11).empty());
    CHECK(box_mean({}, 4, 0, 11).empty());
    const DoubleMap three(3, 1.0);
    bool refused = false;
    try {
        (void)box_mean(three, 2, 2, 11);
    } catch (const Panic&) {
        refused = true;
    }
    CHECK(refused);
}

TEST("ssim_luminance turns degenerate arithmetic into 0.0 on both paths") {
    for (const u64 side : {u64{4}, u64{12}}) {
        const DoubleMap x(side * side, 100.0);
        DoubleMap with_nan = x;
        with_nan[side + 1] = std::numeric_limits<double>::quiet_NaN();
        DoubleMap with_infinity = x;
        with_infinity[0] = std::numeric_limits<double>::infinity();
        for (const DoubleMap* y : {&with_nan, &with_infinity}) {
            auto score = ssim_luminance(x, *y, side, side);
            REQUIRE(score.ok());
            CHECK_EQ(*score, 0.0);
        }
    }
}

TEST("ssim_luminance and ssim_rgba report impossible sizes and short buffers") {
    auto overflowing = ssim_luminance({}, {}, u64{1} << 32, u64{1} << 31);
    REQUIRE(!overflowing.ok());
    CHECK(overflowing.error().kind() == CompareError::Kind::DimensionsOverflow);
    const auto text_of = [](const Result<double>& r) { return r ? std::string("ok") : r.error().text(); };
    const Bytes whole(16, 0), short_buffer(15, 0);
    const std::string short_text = "invalid RGBA buffer length: expected 16 bytes for 2x2, got 15";
    CHECK_EQ(text_of(ssim_rgba({}, {}, u64{1} << 31, u64{1} << 31)), std::string("image dimensions overflowed"));
    CHECK_EQ(text_of(ssim_rgba(whole, short_buffer, 2, 2)), short_text);
    CHECK_EQ(text_of(ssim_rgba(short_buffer, Bytes(3, 0), 2, 2)), short_text);
}
