// Thumbnail internals: the Lanczos3 kernel and weights, the resampler's
// invariants, the top-left crop, and the checks of make_thumbnail.
#include <webp/decode.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>

#include "check.hpp"
#include "image_utils/lanczos.hpp"
#include "image_utils/thumbnail.hpp"
#include "image_utils/webp_encode.hpp"

using namespace quorvane;

namespace {

Bytes random_rgba(u64 width, u64 height, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes pixels(width * height * 4);
    for (u8& value : pixels) value = static_cast<u8>(byte(generator));
    return pixels;
}

struct Decoded {
    int width = 0;
    int height = 0;
    Bytes rgb;
};

Decoded decode_webp(const Bytes& webp) {
    Decoded out;
    std::unique_ptr<u8, decltype(&WebPFree)> rgb(WebPDecodeRGB(webp.data(), webp.size(), &out.width, &out.height),
                                                 WebPFree);
    if (rgb) out.rgb.assign(rgb.get(), rgb.get() + u64(out.width) * u64(out.height) * 3);
    return out;
}

Bytes rgb_of(const Bytes& rgba) {
    Bytes rgb;
    for (u64 i = 0; i < rgba.size(); i += 4) rgb.insert(rgb.end(), rgba.begin() + i, rgba.begin() + i + 3);
    return rgb;
}

}  // namespace

TEST("lanczos3 has its published values") {
    CHECK_EQ(lanczos3(0.0f), 1.0f);
    // sinc(1/2) * sinc(1/6) = (2 / pi) * (3 / pi)
    CHECK(std::fabs(lanczos3(0.5f) - 6.0f / (3.14159265f * 3.14159265f)) < 1e-6f);
    CHECK(std::fabs(lanczos3(-0.5f) - lanczos3(0.5f)) < 1e-7f);
    for (float zero : {1.0f, 2.0f, -1.0f, -2.0f}) CHECK(std::fabs(lanczos3(zero)) < 1e-6f);
    CHECK(lanczos3(-1.5f) < 0.0f);  // the negative lobe
    CHECK_EQ(lanczos3(3.0f), 0.0f);
    CHECK_EQ(lanczos3(-7.25f), 0.0f);
}

TEST("lanczos3_taps stay inside the source, move forward and sum to one") {
    const u64 cases[][2] = {{3000, 439}, {1366, 200}, {2, 1}, {7, 7}, {10, 3}, {1, 1}, {100, 99}, {5, 1}};
    for (const auto& [source, target] : cases) {
        const AxisTaps axis = lanczos3_taps(source, target);
        REQUIRE(axis.first.size() == target);
        REQUIRE(axis.weights.size() == target * axis.taps);
        CHECK(axis.taps >= 1 && axis.taps <= source);
        for (u64 o = 0; o < target; ++o) {
            CHECK(axis.first[o] + axis.taps <= source);
            if (o > 0) CHECK(axis.first[o] >= axis.first[o - 1]);
            double sum = 0.0;
            for (u64 k = 0; k < axis.taps; ++k) sum += axis.weights[o * axis.taps + k];
            CHECK(std::fabs(sum - 1.0) < 1e-5);
        }
    }
}

TEST("lanczos3_taps of a downscale by two follow the kernel stretched twice") {
    const AxisTaps axis = lanczos3_taps(40, 20);
    // Output 10 is centred at 21.0 in source coordinates, so source sample i
    // sits (i - 20.5) / 2 kernel units away; its window is 15 .. 26.
    const u64 o = 10;
    double raw[12];
    double total = 0.0;
    for (int k = 0; k < 12; ++k) {
        raw[k] = lanczos3((static_cast<float>(15 + k) - 20.5f) / 2.0f);
        total += raw[k];
    }
    REQUIRE(axis.taps == 12);
    const u64 shift = 15 - axis.first[o];
    for (int k = 0; k < 12; ++k) {
        CHECK(std::fabs(axis.weights[o * axis.taps + shift + k] - raw[k] / total) < 1e-6);
    }
}

TEST("resizing a flat image keeps every channel, alpha included") {
    Bytes flat(300 * 170 * 4);
    for (u64 i = 0; i < flat.size(); i += 4) {
        flat[i] = 10;
        flat[i + 1] = 200;
        flat[i + 2] = 255;
        flat[i + 3] = 7;
    }
    const Bytes resized = resize_lanczos3(flat, 300, 170, 41, 23, 23);
    REQUIRE(resized.size() == 41 * 23 * 4);
    for (u64 i = 0; i < resized.size(); i += 4) {
        CHECK_EQ(resized[i], u8{10});
        CHECK_EQ(resized[i + 1], u8{200});
        CHECK_EQ(resized[i + 2], u8{255});
        CHECK_EQ(resized[i + 3], u8{7});
    }
}

TEST("the kept rows of a resize are the top rows of the whole resize") {
    // 900 x 700 is split over the pool; a few kept rows fill one band only.
    const u64 cases[][4] = {{900, 700, 200, 156}, {61, 37, 20, 12}};
    for (const auto& [source_width, source_height, width, height] : cases) {
        const Bytes source = random_rgba(source_width, source_height, 7);
        const Bytes whole = resize_lanczos3(source, source_width, source_height, width, height, height);
        for (u64 kept : {u64{1}, u64{3}, u64{9}, height - 1}) {
            const Bytes top = resize_lanczos3(source, source_width, source_height, width, height, kept);
            REQUIRE(top.size() == kept * width * 4);
            CHECK(std::equal(top.begin(), top.end(), whole.begin()));
        }
    }
}

TEST("crop_top_left reads rows at the source stride") {
    const Bytes source = random_rgba(5, 4, 3);
    const Bytes cropped = crop_top_left(source, 5, 2, 3);
    REQUIRE(cropped.size() == 2 * 3 * 4);
    for (u64 y = 0; y < 3; ++y) {
        for (u64 b = 0; b < 8; ++b) CHECK_EQ(cropped[y * 8 + b], source[y * 20 + b]);
    }
    CHECK(crop_top_left(source, 5, 5, 4) == source);
    CHECK(crop_top_left(source, 5, 0, 0).empty());
}

TEST("make_thumbnail encodes exactly the resampled pixels") {
    const Bytes source = random_rgba(230, 90, 11);
    auto webp = make_thumbnail(source, 230, 90, 100, std::nullopt, std::nullopt, std::nullopt);
    REQUIRE(webp.ok());
    const Decoded decoded = decode_webp(*webp);
    CHECK_EQ(decoded.width, 100);
    CHECK_EQ(decoded.height, 39);  // 90 * 100 / 230 = 39.13
    CHECK(decoded.rgb == rgb_of(resize_lanczos3(source, 230, 90, 100, 39, 39)));
}

TEST("make_thumbnail checks the buffer, then the width, then the height") {
    const auto text = [](const Result<Bytes>& result) { return result.ok() ? std::string("ok") : result.error().text(); };
    const Bytes four_pixels(16);
    CHECK_EQ(text(make_thumbnail({}, u64{1} << 62, 4, 0, 0, std::nullopt, std::nullopt)),
             std::string("image dimensions overflowed"));
    CHECK_EQ(text(make_thumbnail(Bytes(15), 2, 2, 0, 0, std::nullopt, std::nullopt)),
             std::string("invalid RGBA buffer length: expected 16 bytes for 2x2, got 15"));
    CHECK_EQ(text(make_thumbnail(four_pixels, 2, 2, 0, 0, std::nullopt, std::nullopt)),
             std::string("thumbnail max_width must be > 0"));
    CHECK_EQ(text(make_thumbnail(four_pixels, 2, 2, 5, 0, std::nullopt, std::nullopt)),
             std::string("thumbnail max_height must be > 0"));
    CHECK_EQ(text(make_thumbnail({}, u64{1} << 32, 0, 5, std::nullopt, std::nullopt, std::nullopt)),
             std::string("image width is too large"));
}

TEST("encode_webp refuses sizes a WebP file cannot hold") {
    for (const auto& [width, height] : {std::pair<u64, u64>{0, 0}, {0, 3}, {16384, 1}, {1, 16384}}) {
        const Bytes pixels(width * height * 4, 0);
        auto webp = encode_webp(pixels, width, height);
        REQUIRE(!webp.ok());
        CHECK(webp.error().kind() == CompareError::Kind::WebpEncode);
        CHECK(webp.error().text().rfind("failed to encode WebP: ", 0) == 0);
    }
    auto widest = encode_webp(Bytes(16383 * 4, 0), 16383, 1);
    CHECK(widest.ok());
}
