// PNG bytes to 8-bit RGBA, whatever the colour type, bit depth or interlacing.
#pragma once

#include <optional>

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// All allocations of one decode, the pixels included, stay within this.
inline constexpr u64 kPngDecodeBudget = 536870912;

// The plain 8-bit RGB and RGBA files screenshots are go through the fast
// path (png_fast_decode.hpp); every other file, and every failure, through
// libpng. Both decode a file to the same pixels, and every error is the
// failure to decode a lone image (see CompareError::undecodable). `capacity` asks for that
// much room in the pixel vector, where the budget allows, so that a caller
// can add rows below the image without moving it.
Result<Image> decode_png(ByteView png, u64 capacity = 0);

// libpng alone, on any file: the reference the fast path agrees with.
Result<Image> decode_png_with_libpng(ByteView png, u64 capacity = 0);

// The width and height the IHDR chunk of PNG bytes claims, unchecked, or
// nullopt when the bytes do not start with a signature and an IHDR.
std::optional<Size> png_claimed_size(ByteView png);

}  // namespace quorvane
