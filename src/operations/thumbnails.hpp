// Thumbnails of a PNG file and of either image of a pair.
#pragma once

#include "core/image_pair.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "image_utils/thumbnail.hpp"

namespace quorvane {

// Decodes the file, then makes its thumbnail; decoding's errors first.
Result<Bytes> png_thumbnail(ByteView png, const ThumbnailOptions& options);

// The current image at its own size, without the padding of a larger baseline.
Result<Bytes> current_thumbnail(const ImagePair& pair, const ThumbnailOptions& options);

struct BaselineThumbnailOptions {
    ThumbnailOptions thumbnail;
    // The baseline at its own size, cut out of the canvas, rather than as
    // compared: padded with transparent black to the common size.
    bool own_size = false;
};

Result<Bytes> baseline_thumbnail(const ImagePair& pair, const BaselineThumbnailOptions& options);

}  // namespace quorvane
