// The colour delta, the distance limit and the grey level on their published
// values, compared bit for bit: these pin the order of the floating-point
// operations (no fused multiply-add, no reassociation).
#include <cmath>

#include "check.hpp"
#include "pixel_diff/color_delta.hpp"
#include "pixel_diff/gray.hpp"

using namespace quorvane;

namespace {

struct Rgba {
    u8 r, g, b, a;
};

double delta(Rgba first, Rgba second, bool y_only = false) {
    const u8 a[4] = {first.r, first.g, first.b, first.a};
    const u8 b[4] = {second.r, second.g, second.b, second.a};
    return color_delta(a, b, 0, 0, y_only);
}

constexpr Rgba kBlack{0, 0, 0, 255};
constexpr Rgba kWhite{255, 255, 255, 255};
constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};

}  // namespace

TEST("black against white is the published distance, signed by which is brighter") {
    CHECK_EQ(delta(kBlack, kWhite), 32857.13315714265);
    CHECK_EQ(delta(kWhite, kBlack), -32857.13315714265);
    CHECK_EQ(delta(kBlack, kWhite, true), -255.00000255);
    CHECK_EQ(delta(kWhite, kBlack, true), 255.00000255);
}

TEST("red against blue: red is the brighter by the luma weights") {
    CHECK_EQ(delta(kRed, kBlue), -17620.62777490937);
}

TEST("a transparent pixel is blended onto the background at offset 0") {
    CHECK_EQ(delta(kWhite, {0, 0, 0, 0}), -21651.600133032);
}

TEST("equal pixels and fully transparent pixels of any colour have no distance") {
    CHECK_EQ(delta({10, 20, 30, 40}, {10, 20, 30, 40}), 0.0);
    CHECK_EQ(delta({10, 20, 30, 40}, {10, 20, 30, 40}, true), 0.0);
    CHECK_EQ(delta({255, 0, 0, 0}, {0, 255, 7, 0}), 0.0);
}

TEST("offsets address pixels in each buffer separately") {
    const u8 first[8] = {1, 2, 3, 255, 0, 0, 0, 255};
    const u8 second[8] = {255, 255, 255, 255, 9, 9, 9, 9};
    CHECK_EQ(color_delta(first, second, 4, 0, false), 32857.13315714265);
    CHECK_EQ(color_delta(first, first, 0, 0, false), 0.0);
}

TEST("the background pattern follows the byte offset of the first pixel") {
    // (green, blue) for k = 0, 4, 8, ...; red is 48 at every multiple of 4.
    const double expected[][2] = {{48, 48},   {48, 207}, {48, 207}, {207, 48}, {207, 48},
                                  {48, 207},  {48, 207}, {207, 48}, {207, 48}, {48, 207}};
    for (u64 n = 0; n < std::size(expected); ++n) {
        const color::Background background = color::background_at(4 * n);
        CHECK_EQ(background.r, 48.0);
        CHECK_EQ(background.g, expected[n][0]);
        CHECK_EQ(background.b, expected[n][1]);
    }
    CHECK_EQ(color::background_at(1).r, 207.0);
}

TEST("the background follows the first image's offset, not the second's") {
    // White over transparent: only the background's brightness differs.
    const u8 pixels[16 * 4] = {};
    u8 white_at_12[16 * 4] = {};
    for (int c = 0; c < 4; ++c) white_at_12[12 + c] = 255;
    const double at_12 = color_delta(white_at_12, pixels, 12, 0, false);
    const double at_0 = color_delta(white_at_12, pixels, 12, 12, false);
    CHECK_EQ(at_12, at_0);
    CHECK(at_12 != delta(kWhite, {0, 0, 0, 0}));  // background (48, 207, 48) at k = 12
}

TEST("max_delta is threshold * (threshold * 35215)") {
    CHECK_EQ(max_delta(0.0), 0.0);
    CHECK_EQ(max_delta(0.1), 352.15000000000003);
    CHECK_EQ(max_delta(1.0), 35215.0);
}

TEST("gray_pixel fades the brightness towards white and truncates") {
    CHECK_EQ(gray_pixel(0, 0, 0, 255, 0.1), u8{229});  // 229.5
    CHECK_EQ(gray_pixel(0, 0, 0, 255, 1.0), u8{0});
    CHECK_EQ(gray_pixel(0, 0, 0, 255, 0.0), u8{255});
    for (double alpha : {0.0, 0.3, 1.0}) {
        CHECK_EQ(gray_pixel(255, 255, 255, 255, alpha), u8{255});
        CHECK_EQ(gray_pixel(0, 0, 0, 0, alpha), u8{255});
        CHECK_EQ(gray_pixel(17, 200, 3, 0, alpha), u8{255});
    }
    // Brightness 100.000001 at full strength stays 100; half opacity halves the fade.
    CHECK_EQ(gray_pixel(100, 100, 100, 255, 1.0), u8{100});
    CHECK_EQ(gray_pixel(0, 0, 0, 128, 1.0), u8{127});  // 255 - 255 * 128/255
    // Exactly 93.0 when alpha scales the brightness before the opacity does;
    // 92.99999999999997 in the other grouping.
    CHECK_EQ(gray_pixel(0, 0, 0, 180, 0.9), u8{93});
}
