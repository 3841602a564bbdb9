#include "ssim/aligned_ssim.hpp"

#include <span>
#include <vector>

#include "alignment/belongs_to_pair.hpp"
#include "alignment/tiling.hpp"
#include "ssim/ssim.hpp"

namespace quorvane {
namespace {

bool is_paired(const RowSegment& segment) {
    return segment.kind == SegmentKind::Equal || segment.kind == SegmentKind::Replace;
}

enum class Side : u8 { Baseline, Current };

u64 first_row(const RowSegment& segment, Side side) {
    return side == Side::Baseline ? segment.baseline_start : segment.current_start;
}

// Where each of one image's paired rows starts, in segment order: the rows
// are read where they stand, never copied.
std::vector<const u8*> paired_rows(ByteView image, u64 stride, std::span<const RowSegment> segments, Side side,
                                   u64 rows) {
    std::vector<const u8*> starts;
    starts.reserve(rows);
    for (const RowSegment& segment : segments) {
        if (!is_paired(segment)) continue;
        const u8* first = image.data() + first_row(segment, side) * stride;
        for (u64 row = 0; row < segment.len; ++row) starts.push_back(first + row * stride);
    }
    return starts;
}

}  // namespace

Result<double> aligned_ssim(const CanvasView& pair, u64 pair_fingerprint, const AlignmentRecord& record,
                            const CanvasSsim& canvas_ssim) {
    if (auto bound = check_alignment_belongs_to_pair(record, pair, pair_fingerprint); !bound)
        return std::move(bound).error();
    const std::span<const RowSegment> segments = record.refined_segments;
    // Rows are read through the segments, so they must lie inside the images.
    require_tiling(segments, pair.width, pair.baseline_size.height, pair.current_size.height);
    if (pair.width == 0) return 1.0;

    u64 rows = 0;
    bool rows_moved = false;
    for (const RowSegment& segment : segments) {
        if (is_paired(segment)) rows += segment.len;
        rows_moved = rows_moved || segment.kind == SegmentKind::Insert || segment.kind == SegmentKind::Delete;
    }
    // No row inserted or deleted: the segments tile both images from the
    // top, so every row is paired with itself and the stacks are the canvases.
    if (!rows_moved) return canvas_ssim();
    // Only shifted rows: nothing was compared, so nothing differs.
    if (rows == 0) return 1.0;

    const u64 stride = pair.width * kBytesPerPixel;
    return ssim_rgba_rows(paired_rows(pair.baseline, stride, segments, Side::Baseline, rows),
                          paired_rows(pair.current, stride, segments, Side::Current, rows), pair.width);
}

}  // namespace quorvane
