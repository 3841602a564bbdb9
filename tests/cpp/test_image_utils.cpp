// Padding, pair normalisation and PNG encoding, checked through their
// observable results (round trips through the decoder, byte layouts).
#include <new>
#include <numeric>

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

TEST("normalize_pair reports the baseline first, overflow before length") {
    const Bytes short_buffer(15);
    auto both_wrong = normalize_pair(short_buffer, 2, 2, short_buffer, 3, 3);
    REQUIRE(!both_wrong.ok());
    CHECK_EQ(both_wrong.error().text(), std::string("invalid RGBA buffer length: expected 16 bytes for 2x2, got 15"));

    auto overflow = normalize_pair(short_buffer, u64{1} << 31, u64{1} << 31, short_buffer, 2, 2);
    REQUIRE(!overflow.ok());
    CHECK_EQ(overflow.error().text(), std::string("image dimensions overflowed"));
}

TEST("normalize_pair refuses a canvas far larger than both images before allocating it") {
    // 280 KB each, but their common canvas would be 19.6 GB per image.
    const Bytes tall(70000 * 4, 255);
    const Bytes wide(70000 * 4, 255);
    bool refused = false;
    try {
        (void)normalize_pair(tall, 1, 70000, wide, 70000, 1);
    } catch (const std::bad_alloc&) {
        refused = true;
    }
    CHECK(refused);
    auto same_size = normalize_pair(tall, 1, 70000, wide, 1, 70000);  // nothing to pad
    CHECK(same_size.ok());
}

TEST("a canvas is affordable within the free budget or within twice the larger image") {
    CHECK(canvas_affordable(kFreeCanvasBytes, 4));
    CHECK(!canvas_affordable(kFreeCanvasBytes + 4, 4));
    CHECK(canvas_affordable(4 * kFreeCanvasBytes, 2 * kFreeCanvasBytes));
    CHECK(!canvas_affordable(4 * kFreeCanvasBytes + 4, 2 * kFreeCanvasBytes));
    CHECK(canvas_affordable(~u64{0} - 3, u64{1} << 63));  // no overflow at the top
}

TEST("encode_png round trips RGB and drops alpha without blending") {
    const u64 width = 7;
    const u64 height = 5;
    Bytes rgba = counting_bytes(width * height * 4, 3);
    auto png = encode_png(rgba, width, height);
    REQUIRE(png.ok());
    auto decoded = decode_png(*png);
    REQUIRE(decoded.ok());
    CHECK_EQ(decoded->width, width);
    CHECK_EQ(decoded->height, height);
    for (u64 i = 0; i < width * height; ++i) {
        CHECK_EQ(decoded->pixels[4 * i + 0], rgba[4 * i + 0]);
        CHECK_EQ(decoded->pixels[4 * i + 1], rgba[4 * i + 1]);
        CHECK_EQ(decoded->pixels[4 * i + 2], rgba[4 * i + 2]);
        CHECK_EQ(decoded->pixels[4 * i + 3], u8{255});
    }

    const Bytes transparent_red{255, 0, 0, 0};
    auto single = encode_png(transparent_red, 1, 1);
    REQUIRE(single.ok());
    auto back = decode_png(*single);
    REQUIRE(back.ok());
    CHECK(back->pixels == (Bytes{255, 0, 0, 255}));
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

TEST("decode_png refuses what is not a PNG") {
    const Bytes jpeg_start{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'};
    auto result = decode_png(jpeg_start);
    REQUIRE(!result.ok());
    CHECK(result.error().text().rfind("failed to decode PNG: ", 0) == 0);
    auto empty = decode_png({});
    CHECK(!empty.ok());
}
