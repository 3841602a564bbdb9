// PNG bytes to 8-bit RGBA, whatever the colour type, bit depth or interlacing.
#pragma once

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// All allocations of one decode, the pixels included, stay within this.
inline constexpr u64 kPngDecodeBudget = 536870912;

// The plain 8-bit RGB and RGBA files screenshots are go through the fast
// path (png_fast_decode.hpp); every other file, and every failure, through
// libpng. Both decode a file to the same pixels.
Result<Image> decode_png(ByteView png);

// libpng alone, on any file: the reference the fast path agrees with.
Result<Image> decode_png_with_libpng(ByteView png);

}  // namespace quorvane
