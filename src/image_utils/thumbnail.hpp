// Thumbnails: an RGBA image scaled down to a width (or cropped from the top
// left when scaling would make it too small), written as lossless WebP.
#pragma once

#include <optional>

#include "core/result.hpp"
#include "core/types.hpp"
#include "image_utils/webp_encode.hpp"

namespace quorvane {

// `width` is the largest output width; `height`, when given, the largest
// output height, reached by cropping from the top after scaling. The aspect
// ratio is kept and the image never enlarged. When the scaled size falls
// below `min_width` or `min_height`, the top-left corner of the source is
// kept instead. `effort` picks the WebP encoder (see encode_webp).
struct ThumbnailOptions {
    u64 width = 200;
    std::optional<u64> height;
    std::optional<u64> min_width;
    std::optional<u64> min_height;
    WebpEffort effort;
};

Result<Bytes> make_thumbnail(ByteView pixels, u64 source_width, u64 source_height, const ThumbnailOptions& options);

// The size of the image make_thumbnail encodes, by the same rules.
Size thumbnail_size(u64 source_width, u64 source_height, const ThumbnailOptions& options);

// The first new_width pixels of each of the first new_height rows; the source
// rows are source_width pixels apart. Callers ask only for sizes within it.
Bytes crop_top_left(ByteView pixels, u64 source_width, u64 new_width, u64 new_height);

}  // namespace quorvane
