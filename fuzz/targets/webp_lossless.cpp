// Fuzz target: our own lossless WebP encoder on raw pixels, the width from
// the input's first byte (1 to 256) and the rows from the rest. libwebp must
// decode the file to the same RGB, opaque.
#include <webp/decode.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_input.hpp"
#include "image_utils/webp_lossless.hpp"

namespace quorvane::fuzz {
namespace {

// Pixels beyond this are left out: the encoder is linear in them.
constexpr u64 kMaxPixels = u64{1} << 14;

void check_round_trip(u64 width, ByteView rest) {
    const u64 height = std::clamp<u64>(rest.size() / (width * kBytesPerPixel), 1, kMaxPixels / width);
    Bytes rgba(width * height * kBytesPerPixel, 0);
    std::memcpy(rgba.data(), rest.data(), std::min<u64>(rest.size(), rgba.size()));
    const Bytes webp = encode_webp_lossless(rgba, width, height);
    int decoded_width = 0;
    int decoded_height = 0;
    u8* decoded = WebPDecodeRGBA(webp.data(), webp.size(), &decoded_width, &decoded_height);
    FUZZ_REQUIRE(decoded != nullptr);
    bool same = static_cast<u64>(decoded_width) == width && static_cast<u64>(decoded_height) == height;
    for (u64 i = 0; same && i < width * height; ++i) {
        const u8* got = decoded + i * kBytesPerPixel;
        same = std::equal(got, got + 3, rgba.data() + i * kBytesPerPixel) && got[3] == 255;
    }
    WebPFree(decoded);
    FUZZ_REQUIRE(same);
}

}  // namespace
}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quorvane::fuzz::InputReader input(data, size);
    const quorvane::u64 width = quorvane::u64{input.byte()} + 1;
    quorvane::fuzz::check_round_trip(width, input.rest());
    return 0;
}
