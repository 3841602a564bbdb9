// What an alignment produces: row segments, shift bands and the alignment
// record that a RowAlignment carries and the shift-aware methods trust.
#pragma once

#include <optional>
#include <vector>

#include "core/types.hpp"

namespace quorvane {

enum class SegmentKind : u8 { Equal = 0, Replace = 1, Insert = 2, Delete = 3 };

// Equal and replace segments pair baseline row baseline_start + i with
// current row current_start + i. An insert holds current rows only and
// stands before baseline row baseline_start; a delete holds baseline rows
// only and went missing at current row current_start.
struct RowSegment {
    u64 baseline_start = 0;
    u64 current_start = 0;
    u64 len = 0;
    SegmentKind kind = SegmentKind::Equal;
    friend bool operator==(const RowSegment&, const RowSegment&) = default;
};

// Where a segment ends in both images: the start of the next segment.
struct RowPosition {
    u64 baseline = 0;
    u64 current = 0;
    friend bool operator==(const RowPosition&, const RowPosition&) = default;
};

inline RowPosition segment_end(const RowSegment& segment) {
    const bool in_baseline = segment.kind != SegmentKind::Insert;
    const bool in_current = segment.kind != SegmentKind::Delete;
    return {segment.baseline_start + (in_baseline ? segment.len : 0),
            segment.current_start + (in_current ? segment.len : 0)};
}

enum class BandKind : u8 { Inserted = 0, Deleted = 1 };

// y is a current row: the first inserted row, or where deleted rows went missing.
struct ShiftBand {
    u64 y = 0;
    u64 rows = 0;
    BandKind kind = BandKind::Inserted;
    friend bool operator==(const ShiftBand&, const ShiftBand&) = default;
};

// `segments` is what Python sees; `refined_segments` (inserts and deletes
// that share no rows collapsed into replaces) is what the shift-aware
// methods follow, and `bands` are its inserts and deletes. A record that is
// not aligned has empty lists and zero counters but keeps the sizes.
// With a row threshold, equal segments pair rows that match within it, which
// may differ; without one they pair identical rows. `fingerprint` ties the
// record to its pair and to that threshold (alignment_fingerprint);
// `pair_fingerprint` is the pair's own, from the same row hashes.
struct AlignmentRecord {
    std::vector<RowSegment> segments;
    std::vector<ShiftBand> bands;
    std::vector<RowSegment> refined_segments;
    u64 edit_distance = 0;
    u64 inserted_rows = 0;
    u64 deleted_rows = 0;
    u64 changed_rows = 0;
    u64 residual_count = 0;
    u64 width = 0;
    u64 baseline_height = 0;
    u64 current_height = 0;
    u64 fingerprint = 0;
    u64 pair_fingerprint = 0;
    bool aligned = false;
    std::optional<double> row_threshold;
};

}  // namespace quorvane
