// Our own lossless WebP encoder, for thumbnails: several times faster than
// libwebp's fastest lossless presets, its files about the size of libwebp's
// default ones on screenshots.
#pragma once

#include "core/types.hpp"

namespace quorvane {

// RGBA pixels as a lossless WebP file of their RGB (alpha dropped, never
// blended). Each side must be 1 to 16384; the caller checks.
Bytes encode_webp_lossless(ByteView rgba, u64 width, u64 height);

}  // namespace quorvane
