// A PNG file resized to a given size: what a capture in device pixels
// becomes in CSS pixels.
#pragma once

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Decodes the file and resamples it to width x height with Lanczos3 (the
// thumbnails' filter), then encodes the result as an RGB PNG (alpha dropped). Decoding's errors
// come first; a size of 0, or one whose pixels exceed the decoding memory
// budget, is refused. An image already of that size is re-encoded unchanged.
Result<Bytes> resize_png(ByteView png, u64 width, u64 height);

}  // namespace quorvane
