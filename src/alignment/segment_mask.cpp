#include "alignment/segment_mask.hpp"

#include "core/error.hpp"
#include "pixel_diff/mask.hpp"

namespace quorvane {

SegmentStrip segment_strip(const CanvasView& pair, const RowSegment& segment) {
    const u64 b = segment.baseline_start;
    const u64 c = segment.current_start;
    const u64 len = segment.len;
    const u64 bh = pair.baseline_size.height;
    const u64 ch = pair.current_size.height;
    if (b > bh || len > bh - b || c > ch || len > ch - c || bh > pair.height || ch > pair.height) {
        throw Panic("segment outside the images' rows");
    }
    const u64 above = b > 0 && c > 0 ? 1 : 0;
    const u64 below = b + len < bh && c + len < ch ? 1 : 0;
    const u64 rows = len + above + below;
    // Rows are contiguous in both buffers, so the strips are plain sub-views.
    const u64 stride = pair.width * kBytesPerPixel;
    return {pair.baseline.subspan((b - above) * stride, rows * stride),
            pair.current.subspan((c - above) * stride, rows * stride), rows, above};
}

Result<Bytes> segment_change_mask(const CanvasView& pair, const RowSegment& segment, const DiffOptions& options) {
    const SegmentStrip strip = segment_strip(pair, segment);
    auto mask = build_diff_mask(strip.baseline, strip.current, pair.width, strip.rows, options);
    if (!mask) return std::move(mask).error();
    const auto first = mask->mask.begin() + static_cast<std::ptrdiff_t>(strip.above * pair.width);
    return Bytes(first, first + static_cast<std::ptrdiff_t>(segment.len * pair.width));
}

}  // namespace quorvane
