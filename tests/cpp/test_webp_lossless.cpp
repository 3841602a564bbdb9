// Our own lossless WebP encoder, against libwebp's decoder: every image
// decodes to its own RGB, opaque, and the images between them take every
// predictor and colour multiplier the encoder chooses from; its prefix codes
// stay within the format's length limit and are complete.
#include <webp/decode.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "check.hpp"
#include "image_utils/vp8l_codes.hpp"
#include "image_utils/vp8l_transforms.hpp"
#include "image_utils/webp_lossless.hpp"

using namespace quorvane;

namespace {

struct Picture {
    const char* name;
    u64 width;
    u64 height;
    Bytes rgba;
};

template <class Paint>
Picture painted(const char* name, u64 width, u64 height, Paint paint) {
    Picture picture{name, width, height, Bytes(width * height * 4)};
    for (u64 y = 0; y < height; ++y) {
        for (u64 x = 0; x < width; ++x) {
            u8* pixel = picture.rgba.data() + (y * width + x) * 4;
            paint(x, y, pixel);
        }
    }
    return picture;
}

// Flat areas, noise, gradients, stripes, text-like repeats and coloured
// blends, at the sizes the format treats specially.
std::vector<Picture> pictures() {
    std::vector<Picture> all;
    all.push_back({"one pixel", 1, 1, {9, 200, 31, 0}});
    all.push_back({"noise", 61, 37, random_bytes(61 * 37 * 4, 3)});
    all.push_back({"one column", 1, 300, random_bytes(300 * 4, 4)});
    all.push_back(painted("widest row", 16383, 1, [](u64 x, u64, u8* p) {
        p[0] = static_cast<u8>(x / 97), p[1] = 40, p[2] = static_cast<u8>(x % 5), p[3] = 255;
    }));
    all.push_back(painted("flat", 50, 40, [](u64, u64, u8* p) { p[0] = 12, p[1] = 250, p[2] = 99, p[3] = 7; }));
    all.push_back(painted("gradient", 64, 64, [](u64 x, u64 y, u8* p) {
        p[0] = static_cast<u8>(x + y), p[1] = static_cast<u8>(2 * x), p[2] = static_cast<u8>(3 * y), p[3] = 255;
    }));
    all.push_back(painted("diagonal stripes", 90, 70, [](u64 x, u64 y, u8* p) {
        const u8 v = ((x + y) / 3) % 2 ? 230 : 20;
        p[0] = v, p[1] = static_cast<u8>(v / 2), p[2] = v, p[3] = 255;
    }));
    all.push_back(painted("text rows", 120, 80, [](u64 x, u64 y, u8* p) {
        const bool ink = y % 16 < 9 && (x * 7 + (y % 16) * 3) % 11 < 4;
        const u8 grey = ink ? static_cast<u8>(40 + (x % 3) * 30) : 255;
        p[0] = p[1] = p[2] = grey, p[3] = 255;
    }));
    // Red marks over faded grey, as a diff image shows change: red follows
    // green, which the colour multipliers take out.
    all.push_back(painted("red over grey", 96, 96, [](u64 x, u64 y, u8* p) {
        const u8 grey = static_cast<u8>(180 + (x * 13 + y * 7) % 60);
        const u8 mark = static_cast<u8>((x * 5 + y * 3) % 97);
        p[0] = 255, p[1] = p[2] = static_cast<u8>(grey - mark), p[3] = 255;
    }));
    all.push_back(painted("more colours than the cache", 200, 60, [](u64 x, u64 y, u8* p) {
        const u64 v = (x * 2654435761u + y * 40503u) >> 7;
        p[0] = static_cast<u8>(v), p[1] = static_cast<u8>(v >> 8), p[2] = static_cast<u8>(v >> 16), p[3] = 255;
    }));
    return all;
}

bool decodes_to_its_rgb(const Picture& picture, const Bytes& webp) {
    int width = 0, height = 0;
    u8* decoded = WebPDecodeRGBA(webp.data(), webp.size(), &width, &height);
    if (decoded == nullptr) return false;
    bool same = static_cast<u64>(width) == picture.width && static_cast<u64>(height) == picture.height;
    for (u64 i = 0; same && i < picture.width * picture.height; ++i) {
        same = std::memcmp(decoded + i * 4, picture.rgba.data() + i * 4, 3) == 0 && decoded[i * 4 + 3] == 255;
    }
    WebPFree(decoded);
    return same;
}

vp8l::Argb argb_of(const Picture& picture) {
    vp8l::Argb argb(picture.width * picture.height);
    for (u64 i = 0; i < argb.size(); ++i) {
        const u8* p = picture.rgba.data() + i * 4;
        argb[i] = 0xff000000u | (u32{p[0]} << 16) | (u32{p[1]} << 8) | p[2];
    }
    return argb;
}

}  // namespace

TEST("every picture decodes through libwebp to its own RGB, opaque") {
    for (const Picture& picture : pictures()) {
        const Bytes webp = encode_webp_lossless(picture.rgba, picture.width, picture.height);
        REQUIRE(webp.size() >= 20 && std::memcmp(webp.data(), "RIFF", 4) == 0);
        if (!decodes_to_its_rgb(picture, webp)) std::fprintf(stderr, "  differs: %s\n", picture.name);
        CHECK(decodes_to_its_rgb(picture, webp));
    }
}

TEST("the pictures take every predictor tried and every colour multiplier") {
    std::set<u32> predictors;
    bool multiplied[3] = {};
    for (const Picture& picture : pictures()) {
        vp8l::Argb argb = argb_of(picture);
        vp8l::subtract_green(argb);
        for (u32 mode : vp8l::predict(argb, picture.width, picture.height, 4)) predictors.insert((mode >> 8) & 0xff);
        for (u32 tile : vp8l::decorrelate_colours(argb, picture.width, picture.height, 5)) {
            for (u32 m = 0; m < 3; ++m) multiplied[m] = multiplied[m] || ((tile >> (8 * m)) & 0xff) != 0;
        }
    }
    CHECK((predictors == std::set<u32>{1, 2, 3, 11, 12}));
    CHECK(multiplied[0] && multiplied[1] && multiplied[2]);
}

TEST("prefix codes stay within their length limit, are complete, and name lone symbols as the format wants") {
    // Fibonacci counts make the deepest Huffman trees: 29 levels unlimited.
    std::vector<u32> counts(30);
    counts[0] = counts[1] = 1;
    for (u64 i = 2; i < counts.size(); ++i) counts[i] = counts[i - 1] + counts[i - 2];
    for (u32 limit : {7u, 15u}) {
        const vp8l::PrefixCode code = vp8l::prefix_code(counts, limit);
        u64 kraft = 0;
        for (u8 length : code.lengths) {
            CHECK(length >= 1 && length <= limit);
            kraft += u64{1} << (limit - length);
        }
        CHECK_EQ(kraft, u64{1} << limit);
    }
    // One symbol below 256 is a simple code of no bits; beyond, it gets a
    // partner, since a decoder reads a normal code of one symbol as no bits.
    std::vector<u32> lone(300, 0);
    lone[7] = 5;
    CHECK(vp8l::prefix_code(lone, 15).simple_symbol == 7u);
    CHECK(vp8l::prefix_code(std::vector<u32>(40, 0), 15).simple_symbol == 0u);
    lone[7] = 0;
    lone[290] = 5;
    const vp8l::PrefixCode partnered = vp8l::prefix_code(lone, 15);
    CHECK(!partnered.simple_symbol && partnered.lengths[290] == 1 && partnered.lengths[0] == 1);
}

TEST("lengths and distances split into the format's prefix symbols and extra bits") {
    // Each value is its symbol's offset plus its extra bits, as decoders read it.
    for (u32 value = 1; value <= 4096; ++value) {
        const vp8l::PrefixSplit split = vp8l::split_prefix(value);
        u32 decoded = split.symbol + 1;
        if (split.symbol >= 4) {
            const u32 extra_bits = (split.symbol - 2) >> 1;
            CHECK_EQ(split.extra_bits, extra_bits);
            decoded = ((2 + (split.symbol & 1)) << extra_bits) + split.extra_value + 1;
        }
        CHECK_EQ(decoded, value);
    }
    CHECK_EQ(vp8l::split_prefix(4096).symbol, 23u);
}
