#include "alignment/align_rows.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "alignment/fingerprint.hpp"
#include "alignment/myers.hpp"
#include "alignment/pairing.hpp"
#include "alignment/refine.hpp"
#include "alignment/row_hash.hpp"
#include "alignment/runs.hpp"
#include "alignment/segment_mask.hpp"

namespace quorvane {
namespace {

Status check_ranges(const DiffOptions& options, double max_edit_ratio) {
    if (auto ranges = check_option_ranges(options); !ranges) return ranges;
    if (!std::isfinite(max_edit_ratio) || !in_unit_range(max_edit_ratio)) {
        return CompareError::message(std::string(kMaxEditRatioRangeText));
    }
    return ok_status();
}

// min(N + M, max_edit_rows, ceil(max_edit_ratio * (N + M))), the product in
// 64-bit floats.
u64 edit_budget(u64 rows, double max_edit_ratio, u64 max_edit_rows) {
    const double by_ratio = std::ceil(max_edit_ratio * static_cast<double>(rows));
    const u64 ratio_rows = by_ratio >= static_cast<double>(rows) ? rows : static_cast<u64>(by_ratio);
    return std::min({rows, max_edit_rows, ratio_rows});
}

// The bands are the inserts and deletes of the refined segments, both placed
// at a current row.
std::vector<ShiftBand> shift_bands(const std::vector<RowSegment>& refined) {
    std::vector<ShiftBand> bands;
    for (const RowSegment& segment : refined) {
        if (segment.kind == SegmentKind::Insert) {
            bands.push_back({segment.current_start, segment.len, BandKind::Inserted});
        } else if (segment.kind == SegmentKind::Delete) {
            bands.push_back({segment.current_start, segment.len, BandKind::Deleted});
        }
    }
    return bands;
}

// Row counters of the segments list (not the refined one) and the changed
// pixels inside its replace segments.
Status count_rows(AlignmentRecord& record, const CanvasView& pair, const DiffOptions& options) {
    for (const RowSegment& segment : record.segments) {
        switch (segment.kind) {
            case SegmentKind::Equal:
                break;
            case SegmentKind::Insert:
                record.inserted_rows += segment.len;
                break;
            case SegmentKind::Delete:
                record.deleted_rows += segment.len;
                break;
            case SegmentKind::Replace: {
                record.changed_rows += segment.len;
                auto mask = segment_change_mask(pair, segment, options);
                if (!mask) return std::move(mask).error();
                record.residual_count += static_cast<u64>(std::count(mask->begin(), mask->end(), u8{1}));
                break;
            }
        }
    }
    return ok_status();
}

}  // namespace

Result<AlignmentRecord> align_rows(const CanvasView& pair, const DiffOptions& options, double max_edit_ratio,
                                   u64 max_edit_rows) {
    if (auto ranges = check_ranges(options, max_edit_ratio); !ranges) return std::move(ranges).error();
    AlignmentRecord record;
    record.width = pair.width;
    record.baseline_height = pair.baseline_size.height;
    record.current_height = pair.current_size.height;
    // Alignment is vertical only.
    if (pair.baseline_size.width != pair.current_size.width) return record;

    const RowHashes rows = hash_pair_rows(pair);
    const std::vector<u64>& a = rows.baseline;
    const std::vector<u64>& b = rows.current;
    const u64 budget = edit_budget(a.size() + b.size(), max_edit_ratio, max_edit_rows);
    auto script = shortest_edit_script(a, b, budget);
    if (!script) return record;

    std::vector<RowSegment> runs = edit_runs(script->operations);
    script->operations = {};
    slide_over_uniform_rows(runs, a, b);
    record.segments = pair_edits(runs);
    record.refined_segments = refine_segments(record.segments, a, b);
    record.bands = shift_bands(record.refined_segments);
    record.edit_distance = script->distance;
    if (auto counted = count_rows(record, pair, options); !counted) return std::move(counted).error();
    record.fingerprint = pair_fingerprint(a, b);
    record.aligned = true;
    return record;
}

}  // namespace quorvane
