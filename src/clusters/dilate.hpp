// Square dilation of a change mask: every pixel within a Chebyshev distance
// of the radius from a marked pixel becomes marked.
#pragma once

#include "core/types.hpp"

namespace quorvane {

// `mask` holds width * height bytes, 1 for marked. The result marks, with 1,
// every pixel of the (2 * radius + 1)-square centred on a marked pixel,
// clipped to the image. Two separable passes, each linear in the pixel count
// whatever the radius.
Bytes dilate_square(ByteView mask, u64 width, u64 height, u64 radius);

}  // namespace quorvane
