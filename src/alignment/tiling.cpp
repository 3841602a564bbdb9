#include "alignment/tiling.hpp"

#include "core/error.hpp"

namespace quorvane {

void require_tiling(std::span<const RowSegment> segments, u64 width, u64 baseline_rows, u64 current_rows) {
    if (width == 0) {
        if (!segments.empty()) throw Panic("alignment of a zero-width pair has segments");
        return;
    }
    RowPosition at;
    for (const RowSegment& segment : segments) {
        const RowPosition start{segment.baseline_start, segment.current_start};
        if (segment.len == 0 || start != at || segment.len > baseline_rows + current_rows) {
            throw Panic("alignment segments do not tile the images' rows");
        }
        at = segment_end(segment);
        if (at.baseline > baseline_rows || at.current > current_rows) {
            throw Panic("alignment segments run past the images' rows");
        }
    }
    if (at != RowPosition{baseline_rows, current_rows}) {
        throw Panic("alignment segments stop short of the images' rows");
    }
}

}  // namespace quorvane
