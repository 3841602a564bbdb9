// One rendered image written twice from the same pixels: as a PNG file and as
// a lossless WebP thumbnail, the two encodings side by side on the pool.
#pragma once

#include "core/result.hpp"
#include "core/types.hpp"
#include "image_utils/thumbnail.hpp"

namespace quorvane {

struct PngAndThumbnail {
    Bytes png;
    Bytes thumbnail;
};

// The PNG's errors come before the thumbnail's.
Result<PngAndThumbnail> encode_png_and_thumbnail(ByteView rgba, u64 width, u64 height,
                                                 const ThumbnailOptions& thumbnail);

}  // namespace quorvane
