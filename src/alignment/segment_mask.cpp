#include "alignment/segment_mask.hpp"

#include "core/error.hpp"
#include "pixel_diff/mask.hpp"

namespace quorvane {

Result<Bytes> segment_change_mask(const PairView& pair, const RowSegment& segment, const DiffOptions& options) {
    const u64 b = segment.baseline_start;
    const u64 c = segment.current_start;
    const u64 len = segment.len;
    const u64 bh = pair.baseline_size.height;
    const u64 ch = pair.current_size.height;
    if (b > bh || len > bh - b || c > ch || len > ch - c || bh > pair.height || ch > pair.height) {
        throw Panic("segment_change_mask: segment outside the images' rows");
    }
    const u64 above = b > 0 && c > 0 ? 1 : 0;
    const u64 below = b + len < bh && c + len < ch ? 1 : 0;
    const u64 rows = len + above + below;
    // Rows are contiguous in both buffers, so the strips are plain sub-views.
    const u64 stride = pair.width * kBytesPerPixel;
    const ByteView baseline = pair.baseline.subspan((b - above) * stride, rows * stride);
    const ByteView current = pair.current.subspan((c - above) * stride, rows * stride);
    auto strip = build_diff_mask(baseline, current, pair.width, rows, options);
    if (!strip) return std::move(strip).error();
    const auto first = strip->mask.begin() + static_cast<std::ptrdiff_t>(above * pair.width);
    return Bytes(first, first + static_cast<std::ptrdiff_t>(len * pair.width));
}

}  // namespace quorvane
