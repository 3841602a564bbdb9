// Fuzz target: the thumbnail path, a PNG decoded and made into a lossless
// WebP thumbnail under sizes taken from the input's first four bytes and
// the encoder from the fifth (0: libwebp's default configuration, then its
// presets 0 to 9 and our own encoder, in turn). The
// thumbnail must decode to the size the sizing rules give, and to the
// source's own colours wherever it was not resampled.
#include <webp/decode.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "fuzz_input.hpp"
#include "image_utils/png_decode.hpp"
#include "image_utils/thumbnail.hpp"
#include "image_utils/webp_encode.hpp"

namespace quorvane::fuzz {
namespace {

// Lossless WebP of large sources is slow enough to stall the search.
constexpr u64 kMaxThumbnailSourcePixels = u64{1} << 14;

// A byte of 0 leaves an optional size out; any other byte gives a size,
// the refused size 0 and the extremes included.
std::optional<u64> optional_size(u8 byte) {
    if (byte == 0) return std::nullopt;
    return count_option(byte - 1, 256);
}

struct Expected {
    u64 width = 0;
    u64 height = 0;
    bool resampled = false;
};

// The sizing rules, written out again from their description.
Expected expected_size(u64 source_width, u64 source_height, const ThumbnailOptions& sizes) {
    const u64 crop = sizes.height.value_or(source_height);
    u64 width = source_width;
    u64 height = source_height;
    if (source_width > sizes.width) {
        width = sizes.width;
        const double exact =
            static_cast<double>(source_height) * static_cast<double>(sizes.width) / static_cast<double>(source_width);
        height = std::max<u64>(1, static_cast<u64>(std::round(exact)));
    }
    if ((sizes.min_width && *sizes.min_width > width) || (sizes.min_height && *sizes.min_height > height)) {
        return {std::min(sizes.width, source_width), std::min(crop, source_height), false};
    }
    const bool resampled = width != source_width || height != source_height;
    return {width, std::min(height, crop), resampled};
}

void check_thumbnail(const Image& source, const ThumbnailOptions& sizes) {
    auto webp = make_thumbnail(source.pixels, source.width, source.height, sizes);
    if (sizes.width == 0 || (sizes.height && *sizes.height == 0)) {
        FUZZ_REQUIRE(!webp && webp.error().kind() == CompareError::Kind::Message);
        return;
    }
    FUZZ_REQUIRE(webp.ok());
    const Expected expected = expected_size(source.width, source.height, sizes);
    int width = 0;
    int height = 0;
    u8* decoded = WebPDecodeRGBA(webp->data(), webp->size(), &width, &height);
    FUZZ_REQUIRE(decoded != nullptr);
    const bool same_size = static_cast<u64>(width) == expected.width && static_cast<u64>(height) == expected.height;
    bool same_colours = true;
    if (same_size && !expected.resampled) {
        for (u64 y = 0; y < expected.height; ++y) {
            for (u64 x = 0; x < expected.width; ++x) {
                const u8* got = decoded + (y * expected.width + x) * kBytesPerPixel;
                const u8* want = source.pixels.data() + (y * source.width + x) * kBytesPerPixel;
                same_colours = same_colours && std::equal(got, got + 3, want) && got[3] == 255;
            }
        }
    }
    WebPFree(decoded);
    FUZZ_REQUIRE(same_size);
    FUZZ_REQUIRE(same_colours);
}

}  // namespace
}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    fuzz::InputReader input(data, size);
    ThumbnailOptions sizes;
    sizes.width = fuzz::count_option(input.byte(), 256);
    sizes.height = fuzz::optional_size(input.byte());
    sizes.min_width = fuzz::optional_size(input.byte());
    sizes.min_height = fuzz::optional_size(input.byte());
    // 0: libwebp's defaults; then libwebp's presets 0 to 9 and our own encoder, in turn.
    if (const u8 effort = input.byte(); effort != 0) {
        const int choice = (effort - 1) % (kMaxWebpEffort + 2);
        sizes.effort = choice > kMaxWebpEffort ? WebpEffort::own() : WebpEffort::libwebp_preset(choice);
    }
    const Bytes png = fuzz::with_chunk_crcs_fixed(input.rest());
    auto image = decode_png(png);
    if (!image || image->width * image->height > fuzz::kMaxThumbnailSourcePixels) return 0;
    fuzz::check_thumbnail(*image, sizes);
    return 0;
}
