// The SSIM internals that Python cannot reach: mirror indexing, the order of
// every addition in every build of the windowed score, and the guards. The
// means' values are checked against scipy from Python.
#include <algorithm>
#include <cmath>
#include <limits>

#include "check.hpp"
#include "ssim/box_mean.hpp"
#include "ssim/luminance.hpp"
#include "ssim/ssim.hpp"
#include "ssim/windowed.hpp"

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

// The score as the definition reads: five whole window-mean maps, then each
// window's value summed in row-major order.
double defined_score(const DoubleMap& x, const DoubleMap& y, u64 width, u64 height) {
    DoubleMap xx(x.size()), yy(x.size()), xy(x.size());
    for (u64 i = 0; i < x.size(); ++i) xx[i] = x[i] * x[i], yy[i] = y[i] * y[i], xy[i] = x[i] * y[i];
    const DoubleMap mx = box_mean(x, width, height, 11), my = box_mean(y, width, height, 11);
    const DoubleMap mxx = box_mean(xx, width, height, 11), myy = box_mean(yy, width, height, 11);
    const DoubleMap mxy = box_mean(xy, width, height, 11);
    double total = 0.0;
    for (u64 i = 0; i < x.size(); ++i) {
        const double sx = mxx[i] - mx[i] * mx[i], sy = myy[i] - my[i] * my[i], sxy = mxy[i] - mx[i] * my[i];
        const double denominator = (mx[i] * mx[i] + my[i] * my[i] + 6.5025) * (sx + sy + 58.5225);
        total += denominator == 0.0 ? 1.0 : ((2.0 * mx[i] * my[i] + 6.5025) * (2.0 * sxy + 58.5225)) / denominator;
    }
    return total / static_cast<double>(x.size());
}

// The rows of two luminance maps, as the windowed score asks for them.
LuminanceRows rows_of(const DoubleMap& x, const DoubleMap& y, u64 width) {
    return [&x, &y, width](u64 row, u64 first, u64 count, double* x_out, double* y_out) {
        std::copy_n(x.data() + row * width + first, count, x_out);
        std::copy_n(y.data() + row * width + first, count, y_out);
    };
}

}  // namespace

TEST("every build of the windowed score equals the definition bit for bit, on random maps and real screenshots") {
    struct Maps {
        DoubleMap x, y;
        u64 width, height;
    };
    std::vector<Maps> cases;
    // 700 x 400 also crosses the size at which the work goes to two workers;
    // 257 columns leave a last strip of one.
    for (const auto& [width, height] : {std::pair<u64, u64>{11, 11}, {23, 3000}, {700, 400}, {5000, 12}, {257, 40}}) {
        const Bytes levels = random_bytes(width * height * 2, static_cast<unsigned>(width));
        Maps maps{DoubleMap(width * height), DoubleMap(width * height), width, height};
        for (u64 i = 0; i < maps.x.size(); ++i) {
            maps.x[i] = levels[2 * i] + levels[2 * i + 1] / 256.0;
            maps.y[i] = (levels[2 * i + 1] + 3.0 * maps.x[i]) / 4.0;  // related, so scores are mid-range
        }
        cases.push_back(std::move(maps));
    }
    for (const auto& [baseline, current] :
         {std::pair{"table_1080p.png", "table_1080p_padded.png"}, {"page_baseline.png", "page_deleted_block.png"}}) {
        auto first = example_screen(baseline), second = example_screen(current);
        if (first && second) {
            cases.push_back({to_luminance(first->pixels), to_luminance(second->pixels), first->width, first->height});
        }
    }
    CHECK(cases.size() == 7);  // the examples were found
    for (const Maps& maps : cases) {
        const double expected = defined_score(maps.x, maps.y, maps.width, maps.height);
        REQUIRE(expected > 0.1 && expected < 0.99);
        CHECK_EQ(*ssim_luminance(maps.x, maps.y, maps.width, maps.height), expected);
        for (const WindowKernels& kernels : window_kernel_paths()) {
            CHECK_EQ(windowed_ssim(rows_of(maps.x, maps.y, maps.width), maps.width, maps.height, kernels), expected);
        }
    }
}

TEST("rows the two images share at the top are counted, not computed: the same score, bit for bit") {
    // Sizes on one worker and on two, a last strip of one column, and the
    // whole-image formula; shared rows around the window's reach.
    for (const auto& [width, height] : {std::pair<u64, u64>{700, 400}, {257, 40}, {30, 8}}) {
        const Bytes baseline = random_bytes(width * height * 4, static_cast<unsigned>(height));
        const Bytes noise = random_bytes(width * height * 4, static_cast<unsigned>(width));
        for (const u64 shared : {u64{0}, u64{5}, u64{6}, u64{7}, height / 2, height - 1, height}) {
            Bytes current = baseline;
            for (u64 i = shared * width * 4; i < current.size(); ++i) current[i] = (baseline[i] + noise[i] / 4) & 0xff;
            const DoubleMap x = to_luminance(baseline), y = to_luminance(current);
            if (height < 11) {
                CHECK_EQ(*ssim_rgba(baseline, current, width, height), *ssim_luminance(x, y, width, height));
                continue;
            }
            const double expected = shared == height ? 1.0 : defined_score(x, y, width, height);
            CHECK_EQ(*ssim_rgba(baseline, current, width, height), expected);
            const LuminanceRows rows = rows_of(x, y, width);
            for (const WindowKernels& kernels : window_kernel_paths()) {
                CHECK_EQ(windowed_ssim(rows, width, height, kernels, rows_of_shared_windows(shared, height)), expected);
            }
        }
    }
    CHECK(rows_of_shared_windows(6, 40) == 1 && rows_of_shared_windows(5, 40) == 0);
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
