// A pair's canvas, padding and ignore regions against a pixel-by-pixel
// reference; a resize cut short, and the checks of make_thumbnail and
// encode_webp. The resampled values are checked against a reference from
// Python, the error order of a pair and the canvas refusal too.
#include <algorithm>
#include <cstring>

#include "check.hpp"
#include "image_utils/lanczos.hpp"
#include "image_utils/pad.hpp"
#include "image_utils/pair.hpp"
#include "image_utils/thumbnail.hpp"
#include "image_utils/webp_encode.hpp"

using namespace quorvane;

namespace {

bool covered(const IgnoreRegions& ignore, u64 x, u64 y) {
    return std::any_of(ignore.regions.begin(), ignore.regions.end(), [&](const Region& r) {
        return x >= r.x && x - r.x < r.width && y >= r.y && y - r.y < r.height;
    });
}

// Each pixel of an image painted in the regions, checked against the
// unpainted image, or transparent black beyond its own size.
bool painted_as_expected(ByteView painted, Size canvas, const Image& source, const IgnoreRegions& ignore) {
    for (u64 y = 0; y < canvas.height; ++y) {
        for (u64 x = 0; x < canvas.width; ++x) {
            u8 expected[4] = {0, 0, 0, 0};
            if (covered(ignore, x, y)) {
                const u8 mask[4] = {ignore.color.r, ignore.color.g, ignore.color.b, 255};
                std::memcpy(expected, mask, 4);
            } else if (x < source.width && y < source.height) {
                std::memcpy(expected, source.pixels.data() + (y * source.width + x) * 4, 4);
            }
            if (std::memcmp(painted.data() + (y * canvas.width + x) * 4, expected, 4) != 0) return false;
        }
    }
    return true;
}

}  // namespace

TEST("a pair is padded to the common size on transparent black, its ignore regions painted in every buffer") {
    constexpr u64 kNear = ~u64{0} - 2;  // sums that would overflow must clip
    std::mt19937_64 random(7);
    const auto below = [&](u64 n) { return random() % n; };
    for (int round = 0; round < 200; ++round) {
        Image images[2];  // baseline, current: sizes from 0 x 0, so that either or both may be padded
        for (Image& image : images) {
            image.width = below(9), image.height = below(9);
            image.pixels = random_bytes(image.width * image.height * 4, round);
        }
        IgnoreRegions ignore{{}, {u8(below(256)), u8(below(256)), u8(below(256))}};
        for (u64 n = below(4); n > 0; --n) ignore.regions.push_back({below(10), below(10), 1 + below(6), 1 + below(6)});
        if (round % 10 == 0) ignore.regions.push_back({below(10), kNear, kNear, 5});
        if (round % 10 == 1) ignore.regions.push_back({kNear, below(10), 3, kNear});

        const u8* own_pixels = images[0].pixels.data();
        const bool same_size = images[0].width == images[1].width && images[0].height == images[1].height;
        auto pair = build_painted_pair({images[0], images[1]}, ignore);
        REQUIRE(pair.ok());
        const Size canvas{pair->width, pair->height};
        CHECK(canvas.width == std::max(images[0].width, images[1].width) &&
              canvas.height == std::max(images[0].height, images[1].height));
        CHECK(painted_as_expected(pair->baseline, canvas, images[0], ignore));
        CHECK(painted_as_expected(pair->current_pixels(), canvas, images[1], ignore));
        CHECK(painted_as_expected(pair->current_own_pixels(), pair->current_size, images[1], ignore));
        u64 pixels = 0;
        for (u64 y = 0; y < canvas.height; ++y) {
            for (u64 x = 0; x < canvas.width; ++x) pixels += covered(ignore, x, y);
        }
        CHECK_EQ(pair->ignored_pixels, pixels);
        CHECK(pair->ignore.regions == ignore.regions);
        // Images of one size are kept as they are, not copied.
        auto unpainted = build_image_pair(std::move(images[0]), std::move(images[1]));
        REQUIRE(unpainted.ok());
        if (same_size && !unpainted->baseline.empty()) CHECK(unpainted->baseline.data() == own_pixels);
    }
    CHECK(pad_to(Bytes(20), 5, 1, 4, 1).error().kind() == CompareError::Kind::SourceLargerThanTarget);
}

TEST("the kept rows of a resize are the top rows of the whole resize") {
    // 900 x 700 is split over the pool; a few kept rows fill one band only.
    const u64 cases[][4] = {{900, 700, 200, 156}, {61, 37, 20, 12}};
    for (const auto& [source_width, source_height, width, height] : cases) {
        const Bytes source = random_bytes(source_width * source_height * 4, 7);
        const Bytes whole = resize_lanczos3(source, source_width, source_height, width, height, height);
        for (u64 kept : {u64{1}, u64{3}, u64{9}, height - 1}) {
            const Bytes top = resize_lanczos3(source, source_width, source_height, width, height, kept);
            REQUIRE(top.size() == kept * width * 4);
            CHECK(std::equal(top.begin(), top.end(), whole.begin()));
        }
    }
}

TEST("make_thumbnail checks the buffer, then the width, then the height; encode_webp takes sides of 1 to 16383") {
    const auto sizes = [](u64 width, std::optional<u64> height) { return ThumbnailOptions{width, height, {}, {}, {}}; };
    const Bytes four_pixels(16);
    CHECK_EQ(outcome(make_thumbnail({}, u64{1} << 62, 4, sizes(0, 0))), std::string("image dimensions overflowed"));
    CHECK_EQ(outcome(make_thumbnail(Bytes(15), 2, 2, sizes(0, 0))),
             std::string("invalid RGBA buffer length: expected 16 bytes for 2x2, got 15"));
    CHECK_EQ(outcome(make_thumbnail(four_pixels, 2, 2, sizes(0, 0))), std::string("thumbnail max_width must be > 0"));
    CHECK_EQ(outcome(make_thumbnail(four_pixels, 2, 2, sizes(5, 0))), std::string("thumbnail max_height must be > 0"));
    CHECK_EQ(outcome(make_thumbnail({}, u64{1} << 32, 0, sizes(5, {}))), std::string("image width is too large"));

    for (const auto& [width, height] : {std::pair<u64, u64>{0, 3}, {16384, 1}, {1, 16384}}) {
        auto refused = encode_webp(Bytes(width * height * 4, 0), width, height);
        CHECK(!refused && refused.error().kind() == CompareError::Kind::WebpEncode);
    }
    CHECK(encode_webp(Bytes(16383 * 4, 0), 16383, 1).ok() && encode_webp(Bytes(16383 * 4, 0), 1, 16383).ok());
}
