// Buffer checks and padding: bringing the two images of a pair to one size.
#pragma once

#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// The buffer must hold exactly width * height * 4 bytes.
Status check_rgba_buffer(ByteView pixels, u64 width, u64 height);

// The source in the top-left corner of a target_width x target_height canvas;
// the rest is transparent black (all four bytes 0).
Result<Bytes> pad_to(ByteView source, u64 width, u64 height, u64 target_width, u64 target_height);

}  // namespace quorvane
