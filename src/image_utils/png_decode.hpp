// PNG bytes to 8-bit RGBA, whatever the colour type, bit depth or interlacing.
#pragma once

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// All allocations of one decode, the pixels included, stay within this.
inline constexpr u64 kPngDecodeBudget = 536870912;

Result<Image> decode_png(ByteView png);

}  // namespace quorvane
