// RGBA pixels to an 8-bit RGB PNG file; alpha is dropped, never blended.
#pragma once

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

Result<Bytes> encode_png(ByteView rgba, u64 width, u64 height);

// R, G, B of every pixel in order; alpha discarded, so a transparent pixel
// keeps its stored colour.
Bytes drop_alpha(ByteView rgba);

// The size checks every encoder shares: 64-bit overflow, exact length, then
// width and height within 32 bits.
Status check_encodable(ByteView rgba, u64 width, u64 height);

}  // namespace quorvane
