// Fuzz target: the PNG decoder, fed the input as it stands and again with
// its chunk checksums put right. Whatever the fast path decodes, libpng must
// decode to the same image; whatever decodes must be a well-formed image
// whose colours survive a PNG round trip.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "core/checked.hpp"
#include "fuzz_input.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/png_encode.hpp"
#include "image_utils/png_fast_decode.hpp"

namespace quorvane::fuzz {
namespace {

void decode_and_check(ByteView png) {
    auto image = decode_png_with_libpng(png);
    if (auto fast = decode_png_fast(png)) {
        FUZZ_REQUIRE(image && fast->width == image->width && fast->height == image->height);
        FUZZ_REQUIRE(fast->pixels == image->pixels);
    }
    if (!image) {
        FUZZ_REQUIRE(is_decode_failure(image.error()));
        return;
    }
    const u64 width = image->width;
    const u64 height = image->height;
    FUZZ_REQUIRE(width > 0 && height > 0);  // PNG has no empty images
    const auto length = checked_rgba_length(width, height);
    FUZZ_REQUIRE(length && *length == image->pixels.size());
    if (width * height > kMaxAnalysedPixels) return;

    // Encoding keeps R, G and B and makes every pixel opaque.
    auto encoded = encode_png(image->pixels, width, height);
    FUZZ_REQUIRE(encoded.ok());
    auto again = decode_png(*encoded);
    FUZZ_REQUIRE(again && again->width == width && again->height == height);
    for (u64 at = 0; at < *length; at += kBytesPerPixel) {
        const auto pixel = image->pixels.begin() + at;
        FUZZ_REQUIRE(std::equal(pixel, pixel + 3, again->pixels.begin() + at));
        FUZZ_REQUIRE(again->pixels[at + 3] == 255);
    }
}

}  // namespace
}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    const ByteView input(data, size);
    fuzz::decode_and_check(input);
    const Bytes fixed = fuzz::with_chunk_crcs_fixed(input);
    if (!std::equal(fixed.begin(), fixed.end(), input.begin(), input.end())) fuzz::decode_and_check(fixed);
    return 0;
}
