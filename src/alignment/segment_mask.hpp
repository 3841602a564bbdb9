// A paired segment's rows with a row of context above and below, so that its
// edge rows get a fair anti-aliasing test, and the change mask judged on them.
#pragma once

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/options.hpp"
#include "core/result.hpp"

namespace quorvane {

// Both images' rows of the segment, with one context row above and one below
// where both images have one. The segment must lie inside both images' own
// rows.
struct SegmentStrip {
    ByteView baseline;
    ByteView current;
    u64 rows;   // the segment's rows and the context rows
    u64 above;  // context rows above the segment: 0 or 1
};

SegmentStrip segment_strip(const CanvasView& pair, const RowSegment& segment);

// W x len bytes, 1 where baseline row baseline_start + i and current row
// current_start + i differ by a Changed pixel. The context rows feed the
// anti-aliasing test only and are never marked.
Result<Bytes> segment_change_mask(const CanvasView& pair, const RowSegment& segment, const DiffOptions& options);

}  // namespace quorvane
