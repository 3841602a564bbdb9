// Buffer length checks and padding onto a transparent-black canvas.
#include "image_utils/pad.hpp"

#include <cstring>

#include "core/checked.hpp"

namespace quorvane {

Status check_rgba_buffer(ByteView pixels, u64 width, u64 height) {
    auto expected = checked_rgba_length(width, height);
    if (!expected) return CompareError::dimensions_overflow();
    if (pixels.size() != *expected) return CompareError::invalid_buffer_length(*expected, pixels.size(), width, height);
    return ok_status();
}

Result<Bytes> pad_to(ByteView source, u64 width, u64 height, u64 target_width, u64 target_height) {
    if (width > target_width || height > target_height) return CompareError::source_larger_than_target();
    auto length = checked_rgba_length(target_width, target_height);
    if (!length) return CompareError::dimensions_overflow();

    // Every byte is written once: source rows with their zero tails, then the
    // zero rows below.
    Bytes target(*length);
    const u64 source_stride = width * kBytesPerPixel;
    const u64 target_stride = target_width * kBytesPerPixel;
    const u64 copied_rows = width == 0 ? 0 : height;
    for (u64 y = 0; y < copied_rows; ++y) {
        u8* row = target.data() + y * target_stride;
        std::memcpy(row, source.data() + y * source_stride, source_stride);
        std::memset(row + source_stride, 0, target_stride - source_stride);
    }
    if (!target.empty()) {
        std::memset(target.data() + copied_rows * target_stride, 0, (target_height - copied_rows) * target_stride);
    }
    return target;
}

}  // namespace quorvane
