// The diff images of a pair, each drawn once and then written: as a PNG
// file, or as a PNG file and a lossless WebP thumbnail of the same pixels;
// plain or shift-aware.
#pragma once

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/options.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "image_utils/png_and_thumbnail.hpp"
#include "image_utils/thumbnail.hpp"

namespace quorvane {

struct DiffPng {
    Bytes png;
    u64 count = 0;  // the pixels it draws as changed
};

// Drawing's errors before encoding's.
Result<DiffPng> diff_png(const ImagePair& pair, const DiffOptions& options);
Result<PngAndThumbnail> diff_png_and_thumbnail(const ImagePair& pair, const DiffOptions& options,
                                               const ThumbnailOptions& thumbnail);

// The alignment is checked against the pair first; the pair's fingerprint
// is computed once and kept in its cache.
Result<Bytes> aligned_diff_png(ImagePair& pair, const AlignmentRecord& alignment, const DiffOptions& options);
Result<PngAndThumbnail> aligned_diff_png_and_thumbnail(ImagePair& pair, const AlignmentRecord& alignment,
                                                       const DiffOptions& options, const ThumbnailOptions& thumbnail);

}  // namespace quorvane
