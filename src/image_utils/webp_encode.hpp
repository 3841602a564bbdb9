// RGBA pixels to a lossless WebP file; alpha is dropped, never blended.
#pragma once

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Lossless, libwebp's default settings, no metadata. A side of 0 or beyond
// what WebP can hold is the encoder's failure, reported as WebpEncode.
Result<Bytes> encode_webp(ByteView rgba, u64 width, u64 height);

}  // namespace quorvane
