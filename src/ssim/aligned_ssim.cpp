#include "ssim/aligned_ssim.hpp"

#include <cstring>
#include <optional>
#include <span>

#include "alignment/belongs_to_pair.hpp"
#include "alignment/tiling.hpp"
#include "core/parallel.hpp"
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

// One image's paired rows, stacked in segment order. When they already stand
// together in the image (a pure insertion leaves the baseline's rows in one
// run), the image itself serves and nothing is copied; otherwise they are
// copied into `storage`.
ByteView stacked_rows(ByteView image, u64 stride, std::span<const RowSegment> segments, Side side, u64 rows,
                      Bytes& storage) {
    bool contiguous = true;
    u64 start = 0;
    std::optional<u64> run_end;  // where the rows gathered so far end in the image
    for (const RowSegment& segment : segments) {
        if (!is_paired(segment)) continue;
        const u64 row = first_row(segment, side);
        if (!run_end) {
            start = row;
        } else if (row != *run_end) {
            contiguous = false;
            break;
        }
        run_end = row + segment.len;
    }
    if (contiguous) return image.subspan(start * stride, rows * stride);

    storage = Bytes(rows * stride);
    u8* out = storage.data();
    for (const RowSegment& segment : segments) {
        if (!is_paired(segment)) continue;
        std::memcpy(out, image.data() + first_row(segment, side) * stride, segment.len * stride);
        out += segment.len * stride;
    }
    return storage;
}

}  // namespace

Result<double> aligned_ssim(const CanvasView& pair, u64 pair_fingerprint, const AlignmentRecord& record) {
    if (auto bound = check_alignment_belongs_to_pair(record, pair, pair_fingerprint); !bound)
        return std::move(bound).error();
    const std::span<const RowSegment> segments = record.refined_segments;
    // Rows are read through the segments, so they must lie inside the images.
    require_tiling(segments, pair.width, pair.baseline_size.height, pair.current_size.height);
    if (pair.width == 0) return 1.0;

    u64 rows = 0;
    for (const RowSegment& segment : segments) {
        if (is_paired(segment)) rows += segment.len;
    }
    // Only shifted rows: nothing was compared, so nothing differs.
    if (rows == 0) return 1.0;

    const u64 stride = pair.width * kBytesPerPixel;
    Bytes baseline_storage;
    Bytes current_storage;
    ByteView baseline;
    ByteView current;
    auto stack_baseline = [&] {
        baseline = stacked_rows(pair.baseline, stride, segments, Side::Baseline, rows, baseline_storage);
    };
    auto stack_current = [&] {
        current = stacked_rows(pair.current, stride, segments, Side::Current, rows, current_storage);
    };
    fork_join_if(worth_splitting(pair.width * rows), stack_baseline, stack_current);
    return ssim_rgba(baseline, current, pair.width, rows);
}

}  // namespace quorvane
