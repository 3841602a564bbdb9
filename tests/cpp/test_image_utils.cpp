// Padding, pair normalisation, ignore regions and PNG encoding, checked
// through their observable results (round trips through the decoder and
// zlib, byte layouts, a pixel-by-pixel reference). Their error order, the
// canvas refusal and the decoder are checked from Python.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>

#include "check.hpp"
#include "image_utils/pad.hpp"
#include "image_utils/pair.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_encode.hpp"

using namespace quorvane;

namespace {

Bytes counting_bytes(u64 length, u8 start = 1) {
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), start);
    return bytes;
}

u8 at(const Bytes& pixels, u64 width, u64 x, u64 y, u64 channel) { return pixels[(y * width + x) * 4 + channel]; }

enum class Content { Noise, Flat, Gradient, Stripes };

// Opaque RGBA pixels: random bytes, one colour, smooth ramps, or noise rows
// between flat ones (so that Up and Paeth matter at every row).
Bytes picture(u64 width, u64 height, Content content, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes pixels(width * height * 4);
    for (u64 y = 0; y < height; ++y) {
        for (u64 x = 0; x < width; ++x) {
            u8* pixel = pixels.data() + (y * width + x) * 4;
            for (int c = 0; c < 3; ++c) {
                switch (content) {
                    case Content::Noise: pixel[c] = static_cast<u8>(generator()); break;
                    case Content::Flat: pixel[c] = static_cast<u8>(40 * c + 7); break;
                    case Content::Gradient: pixel[c] = static_cast<u8>(x * (c + 1) + y * (3 - c)); break;
                    case Content::Stripes: pixel[c] = y % 3 == 0 ? static_cast<u8>(generator()) : 200; break;
                }
            }
            pixel[3] = 255;
        }
    }
    return pixels;
}

// The image data of a PNG file: its IDAT chunks' data, joined.
Bytes image_data(const Bytes& png) {
    Bytes data;
    for (u64 at = 8; at + 12 <= png.size();) {
        const u64 length = u64{png[at]} << 24 | u64{png[at + 1]} << 16 | u64{png[at + 2]} << 8 | png[at + 3];
        if (std::string(png.begin() + at + 4, png.begin() + at + 8) == "IDAT") {
            data.insert(data.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
        }
        at += 12 + length;
    }
    return data;
}

}  // namespace

TEST("pad_to places the source top left on transparent black") {
    const Bytes source = counting_bytes(2 * 2 * 4);
    auto padded = pad_to(source, 2, 2, 3, 4);
    REQUIRE(padded.ok());
    REQUIRE(padded->size() == 3 * 4 * 4);
    for (u64 y = 0; y < 4; ++y) {
        for (u64 x = 0; x < 3; ++x) {
            for (u64 c = 0; c < 4; ++c) {
                const u8 expected = (x < 2 && y < 2) ? source[(y * 2 + x) * 4 + c] : 0;
                CHECK_EQ(at(*padded, 3, x, y, c), expected);
            }
        }
    }
}

TEST("pad_to of an empty source gives zeros and refuses a larger source") {
    auto empty = pad_to({}, 0, 5, 4, 5);
    REQUIRE(empty.ok());
    CHECK_EQ(empty->size(), u64{80});
    CHECK(std::all_of(empty->begin(), empty->end(), [](u8 byte) { return byte == 0; }));

    const Bytes wide = counting_bytes(5 * 4);
    auto refused = pad_to(wide, 5, 1, 4, 1);
    REQUIRE(!refused.ok());
    CHECK(refused.error().kind() == CompareError::Kind::SourceLargerThanTarget);
    CHECK_EQ(refused.error().text(), std::string("source image is larger than target size"));
}

TEST("normalize_pair pads each image to the common size") {
    const Bytes baseline = counting_bytes(3 * 2 * 4);
    const Bytes current = counting_bytes(2 * 3 * 4, 100);
    auto pair = normalize_pair(baseline, 3, 2, current, 2, 3);
    REQUIRE(pair.ok());
    CHECK_EQ(pair->width, u64{3});
    CHECK_EQ(pair->height, u64{3});
    REQUIRE(pair->baseline_padded && pair->current_padded);
    // The baseline gains a zero bottom row, the current image a zero right column.
    for (u64 x = 0; x < 3; ++x) CHECK_EQ(pair->baseline[(2 * 3 + x) * 4 + 3], u8{0});
    for (u64 y = 0; y < 3; ++y) CHECK_EQ(pair->current[(y * 3 + 2) * 4 + 3], u8{0});
    CHECK_EQ(pair->current[(1 * 3 + 1) * 4], current[(1 * 2 + 1) * 4]);
}

TEST("normalize_pair borrows images of equal size") {
    const Bytes baseline = counting_bytes(4 * 4);
    const Bytes current = counting_bytes(4 * 4, 7);
    auto pair = normalize_pair(baseline, 2, 2, current, 2, 2);
    REQUIRE(pair.ok());
    CHECK(!pair->baseline_padded && !pair->current_padded);
    CHECK(pair->baseline.data() == baseline.data());
    CHECK(pair->current.data() == current.data());
}

TEST("a canvas is affordable within the free budget or within twice the larger image") {
    CHECK(canvas_affordable(kFreeCanvasBytes, 4));
    CHECK(!canvas_affordable(kFreeCanvasBytes + 4, 4));
    CHECK(canvas_affordable(4 * kFreeCanvasBytes, 2 * kFreeCanvasBytes));
    CHECK(!canvas_affordable(4 * kFreeCanvasBytes + 4, 2 * kFreeCanvasBytes));
    CHECK(canvas_affordable(~u64{0} - 3, u64{1} << 63));  // no overflow at the top
}

namespace {

bool inside(const Region& region, u64 x, u64 y) {
    return x >= region.x && x - region.x < region.width && y >= region.y && y - region.y < region.height;
}

// Pixel (x, y) of an image painted in the regions, checked one pixel at a
// time against the unpainted image, or transparent black beyond its own size.
bool painted_as_expected(const Bytes& painted, Size canvas, const Image& source, const IgnoreRegions& ignore) {
    for (u64 y = 0; y < canvas.height; ++y) {
        for (u64 x = 0; x < canvas.width; ++x) {
            const bool masked = std::any_of(ignore.regions.begin(), ignore.regions.end(),
                                            [&](const Region& region) { return inside(region, x, y); });
            u8 expected[4] = {0, 0, 0, 0};
            if (masked) {
                expected[0] = ignore.color.r, expected[1] = ignore.color.g, expected[2] = ignore.color.b;
                expected[3] = 255;
            } else if (x < source.width && y < source.height) {
                std::memcpy(expected, source.pixels.data() + (y * source.width + x) * 4, 4);
            }
            if (std::memcmp(painted.data() + (y * canvas.width + x) * 4, expected, 4) != 0) return false;
        }
    }
    return true;
}

}  // namespace

TEST("a pair built with ignore regions has them painted in every buffer, counted once") {
    constexpr u64 kNear = ~u64{0} - 2;  // sums that would overflow must clip
    std::mt19937_64 random(7);
    auto below = [&](u64 n) { return random() % n; };
    for (int round = 0; round < 200; ++round) {
        Image images[2];  // baseline, current: sizes from 0 x 0, so that either or both may be padded
        for (Image& image : images) {
            image.width = below(9), image.height = below(9);
            image.pixels = counting_bytes(image.width * image.height * 4, u8(round));
        }
        IgnoreRegions ignore{{}, {u8(below(256)), u8(below(256)), u8(below(256))}};
        for (u64 n = below(4); n > 0; --n) {
            ignore.regions.push_back({below(10), below(10), 1 + below(6), 1 + below(6)});
        }
        if (round % 10 == 0) ignore.regions.push_back({below(10), kNear, kNear, 5});
        if (round % 10 == 1) ignore.regions.push_back({kNear, below(10), 3, kNear});

        auto pair = build_painted_pair({images[0], images[1]}, ignore);
        REQUIRE(pair.ok());
        const Size canvas{pair->width, pair->height};
        CHECK(painted_as_expected(pair->baseline, canvas, images[0], ignore));
        CHECK(painted_as_expected(pair->current, canvas, images[1], ignore));
        CHECK(painted_as_expected(Bytes(pair->current_own_pixels().begin(), pair->current_own_pixels().end()),
                                  pair->current_size, images[1], ignore));
        u64 covered = 0;
        for (u64 y = 0; y < canvas.height; ++y) {
            for (u64 x = 0; x < canvas.width; ++x) {
                covered += std::any_of(ignore.regions.begin(), ignore.regions.end(),
                                       [&](const Region& region) { return inside(region, x, y); });
            }
        }
        CHECK_EQ(pair->ignored_pixels, covered);
        CHECK(pair->ignore.regions == ignore.regions);
    }
}

TEST("encode_png round trips RGB and drops alpha without blending") {
    const u64 width = 7;
    const u64 height = 5;
    Bytes rgba = counting_bytes(width * height * 4, 3);
    rgba[3] = 0;  // a fully transparent pixel keeps its colour too
    auto png = encode_png(rgba, width, height);
    REQUIRE(png.ok());
    auto decoded = decode_png(*png);
    REQUIRE(decoded.ok());
    CHECK_EQ(decoded->width, width);
    CHECK_EQ(decoded->height, height);
    for (u64 i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
    CHECK(decoded->pixels == rgba);
}

TEST("encode_png round trips every kind of image, in one strip, two or many") {
    struct Size {
        u64 width;
        u64 height;
    };
    const Size sizes[] = {
        {1, 1},
        {3000, 1},
        {1, 3000},
        {3000, png_strip_rows(3000) + 1},
        {777, 4 * png_strip_rows(777) + 3},
        {2, 3 * png_strip_rows(2)},
    };
    unsigned seed = 0;
    for (const Size& size : sizes) {
        for (Content content : {Content::Noise, Content::Flat, Content::Gradient, Content::Stripes}) {
            const Bytes rgba = picture(size.width, size.height, content, ++seed);
            auto png = encode_png(rgba, size.width, size.height);
            REQUIRE(png.ok());
            // libpng reads with zlib; the fast path must agree.
            auto decoded = decode_png_with_libpng(*png);
            REQUIRE(decoded.ok());
            CHECK(decoded->width == size.width && decoded->height == size.height);
            CHECK(decoded->pixels == rgba);
            CHECK(decode_png(*png)->pixels == rgba);
            // zlib inflates the joined strips to every filtered row, and
            // their combined Adler-32 is the stream's.
            const Bytes data = image_data(*png);
            const u64 rows_length = size.height * (3 * size.width + 1);
            Bytes rows(rows_length + 1);
            uLongf produced = rows.size();
            CHECK_EQ(uncompress(rows.data(), &produced, data.data(), data.size()), Z_OK);
            CHECK_EQ(u64{produced}, rows_length);
        }
    }
}

TEST("encode_png writes an 8-bit truecolour header") {
    const Bytes rgba(4 * 4, 9);
    auto png = encode_png(rgba, 2, 2);
    REQUIRE(png.ok() && png->size() > 33);
    // IHDR data follows the 8-byte signature and the chunk's length and type.
    CHECK_EQ((*png)[24], u8{8});  // bit depth
    CHECK_EQ((*png)[25], u8{2});  // colour type: truecolour
    CHECK_EQ((*png)[28], u8{0});  // not interlaced
}

TEST("encode_png refuses impossible sizes with the documented texts") {
    auto zero_width = encode_png({}, 0, 3);
    REQUIRE(!zero_width.ok());
    CHECK(zero_width.error().text().rfind("failed to encode PNG: ", 0) == 0);

    auto short_buffer = encode_png(Bytes(15), 2, 2);
    REQUIRE(!short_buffer.ok());
    CHECK(short_buffer.error().kind() == CompareError::Kind::InvalidBufferLength);

    auto too_wide = encode_png({}, u64{1} << 32, 0);
    REQUIRE(!too_wide.ok());
    CHECK_EQ(too_wide.error().text(), std::string("image width is too large"));
}
