// RGBA pixels to a lossless WebP file; alpha is dropped, never blended.
#pragma once

#include <optional>

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// The highest lossless preset level of libwebp: 0 is the fastest, 9 makes
// the smallest files.
inline constexpr int kMaxWebpEffort = 9;

// Lossless, no metadata: with libwebp's default configuration, or with its
// lossless preset of level `effort` (0 to kMaxWebpEffort). A side of 0 or
// beyond what WebP can hold is the encoder's failure, reported as WebpEncode.
Result<Bytes> encode_webp(ByteView rgba, u64 width, u64 height, std::optional<int> effort = std::nullopt);

}  // namespace quorvane
