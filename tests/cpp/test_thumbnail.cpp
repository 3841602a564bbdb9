// Thumbnail internals: the Lanczos3 kernel and weights, the resampler's
// invariants, and the checks of make_thumbnail and encode_webp.
#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

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

TEST("resizing a flat image keeps every channel, alpha included") {
    const auto flat = [](u64 width, u64 height) {
        Bytes pixels(width * height * 4);
        const u8 colour[4] = {10, 200, 255, 7};
        for (u64 i = 0; i < pixels.size(); ++i) pixels[i] = colour[i % 4];
        return pixels;
    };
    CHECK(resize_lanczos3(flat(300, 170), 300, 170, 41, 23, 23) == flat(41, 23));
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

TEST("make_thumbnail checks the buffer, then the width, then the height") {
    const auto text = [](const Result<Bytes>& result) { return result.ok() ? std::string("ok") : result.error().text(); };
    const Bytes four_pixels(16);
    const auto sizes = [](u64 width, std::optional<u64> height) { return ThumbnailOptions{width, height, {}, {}, {}}; };
    CHECK_EQ(text(make_thumbnail({}, u64{1} << 62, 4, sizes(0, 0))), std::string("image dimensions overflowed"));
    CHECK_EQ(text(make_thumbnail(Bytes(15), 2, 2, sizes(0, 0))),
             std::string("invalid RGBA buffer length: expected 16 bytes for 2x2, got 15"));
    CHECK_EQ(text(make_thumbnail(four_pixels, 2, 2, sizes(0, 0))), std::string("thumbnail max_width must be > 0"));
    CHECK_EQ(text(make_thumbnail(four_pixels, 2, 2, sizes(5, 0))), std::string("thumbnail max_height must be > 0"));
    CHECK_EQ(text(make_thumbnail({}, u64{1} << 32, 0, sizes(5, {}))), std::string("image width is too large"));
}

TEST("encode_webp takes sides of 1 to 16383 pixels") {
    for (const auto& [width, height] : {std::pair<u64, u64>{0, 3}, {16384, 1}, {1, 16384}}) {
        auto refused = encode_webp(Bytes(width * height * 4, 0), width, height);
        REQUIRE(!refused.ok());
        CHECK(refused.error().kind() == CompareError::Kind::WebpEncode);
    }
    CHECK(encode_webp(Bytes(16383 * 4, 0), 16383, 1).ok());
    CHECK(encode_webp(Bytes(16383 * 4, 0), 1, 16383).ok());
}
