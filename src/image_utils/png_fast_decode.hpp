// The fast path of PNG decoding, for the files screenshots are: 8-bit RGB or
// RGBA, not interlaced. It reads the chunks itself, inflates the image data
// with libdeflate and undoes the row filters, and takes a file only when
// libpng would decode it to the same pixels; everything else goes to libpng.
#pragma once

#include <optional>

#include "core/types.hpp"

namespace quorvane {

// The decoded image, or nullopt for a file the fast path leaves to libpng:
// another colour type, bit depth or interlacing, and any file with anything
// unusual (a chunk it does not know, a checksum, a stream zlib would refuse,
// a filter type, a size near the decoding budget). Never an error of its
// own, so libpng gives every failure its text. `capacity` as in decode_png.
std::optional<Image> decode_png_fast(ByteView png, u64 capacity = 0);

}  // namespace quorvane
