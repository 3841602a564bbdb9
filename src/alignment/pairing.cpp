#include "alignment/pairing.hpp"

#include <algorithm>

namespace quorvane {
namespace {

bool opposite_edits(SegmentKind first, SegmentKind second) {
    return (first == SegmentKind::Insert && second == SegmentKind::Delete) ||
           (first == SegmentKind::Delete && second == SegmentKind::Insert);
}

}  // namespace

std::vector<RowSegment> pair_edits(std::span<const RowSegment> runs) {
    std::vector<RowSegment> segments;
    segments.reserve(runs.size());
    u64 i = 0;
    while (i < runs.size()) {
        const RowSegment& first = runs[i];
        if (i + 1 == runs.size() || !opposite_edits(first.kind, runs[i + 1].kind)) {
            segments.push_back(first);
            ++i;
            continue;
        }
        const RowSegment& second = runs[i + 1];
        const u64 paired = std::min(first.len, second.len);
        segments.push_back({first.baseline_start, first.current_start, paired, SegmentKind::Replace});
        if (first.len != second.len) {
            const RowSegment& longer = first.len > second.len ? first : second;
            segments.push_back(
                {first.baseline_start + paired, first.current_start + paired, longer.len - paired, longer.kind});
        }
        i += 2;
    }
    return segments;
}

}  // namespace quorvane
