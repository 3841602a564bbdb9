#include "alignment/changed_rows.hpp"

#include <cstring>

namespace quorvane {
namespace {

bool opaque(const u8* row, u64 width) {
    for (u64 x = 0; x < width; ++x) {
        if (row[x * kBytesPerPixel + 3] != 255) return false;
    }
    return true;
}

// The runs of rows of an equal segment that `measured` says to look at.
template <class Measured>
void add_measured_runs(const RowSegment& equal, Measured&& measured, std::vector<RowSegment>& runs) {
    u64 i = 0;
    while (i < equal.len) {
        if (!measured(i)) {
            ++i;
            continue;
        }
        const u64 start = i;
        while (i < equal.len && measured(i)) ++i;
        runs.push_back({equal.baseline_start + start, equal.current_start + start, i - start, SegmentKind::Replace});
    }
}

}  // namespace

std::vector<RowSegment> rows_changed_in_place(const CanvasView& pair, std::span<const RowSegment> segments,
                                              std::optional<double> row_threshold, std::optional<double> mask_threshold,
                                              const IdenticalRows& identical) {
    const u64 stride = pair.width * kBytesPerPixel;
    // The colour delta of two opaque pixels does not depend on where they
    // stand, so a mask sees the deltas that the match found within the row
    // threshold, none of them over a threshold at least as large.
    const bool opaque_rows_hold_none = row_threshold && mask_threshold && *mask_threshold >= *row_threshold;
    std::vector<RowSegment> changed;
    for (const RowSegment& segment : segments) {
        if (segment.kind == SegmentKind::Replace) changed.push_back(segment);
        if (segment.kind != SegmentKind::Equal || !row_threshold) continue;
        add_measured_runs(
            segment,
            [&](u64 i) {
                const u8* baseline = pair.baseline.data() + (segment.baseline_start + i) * stride;
                const u8* current = pair.current.data() + (segment.current_start + i) * stride;
                const bool same = identical ? identical(segment.baseline_start + i, segment.current_start + i)
                                            : std::memcmp(baseline, current, stride) == 0;
                if (same) return false;
                return !(opaque_rows_hold_none && opaque(baseline, pair.width) && opaque(current, pair.width));
            },
            changed);
    }
    return changed;
}

}  // namespace quorvane
