#include "alignment/align_rows.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "alignment/changed_rows.hpp"
#include "alignment/fingerprint.hpp"
#include "alignment/myers.hpp"
#include "alignment/pairing.hpp"
#include "alignment/refine.hpp"
#include "alignment/row_hash.hpp"
#include "alignment/row_match.hpp"
#include "alignment/runs.hpp"
#include "alignment/segment_mask.hpp"

namespace quorvane {
namespace {

Status check_ranges(const DiffOptions& options, double max_edit_ratio, std::optional<double> row_threshold) {
    if (auto ranges = check_option_ranges(options); !ranges) return ranges;
    if (!std::isfinite(max_edit_ratio) || !in_unit_range(max_edit_ratio)) {
        return CompareError::message(std::string(kMaxEditRatioRangeText));
    }
    if (row_threshold && !in_unit_range(*row_threshold)) {
        return CompareError::message(std::string(kRowThresholdRangeText));
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

// Row counters of the segments list (not the refined one), and the changed
// pixels of the rows it leaves changed in place. Rows of equal hashes are the
// same (`a` and `b` are the row hashes).
Status count_rows(AlignmentRecord& record, const CanvasView& pair, const DiffOptions& options, std::span<const u64> a,
                  std::span<const u64> b) {
    for (const RowSegment& segment : record.segments) {
        if (segment.kind == SegmentKind::Insert) record.inserted_rows += segment.len;
        if (segment.kind == SegmentKind::Delete) record.deleted_rows += segment.len;
        if (segment.kind == SegmentKind::Replace) record.changed_rows += segment.len;
    }
    const auto same_hashes = [&](u64 x, u64 y) { return a[x] == b[y]; };
    for (const RowSegment& rows :
         rows_changed_in_place(pair, record.segments, record.row_threshold, options.threshold, same_hashes)) {
        auto mask = segment_change_mask(pair, rows, options);
        if (!mask) return std::move(mask).error();
        record.residual_count += static_cast<u64>(std::count(mask->begin(), mask->end(), u8{1}));
    }
    return ok_status();
}

// The segments of the shortest script and of what it becomes: runs, slid
// over uniform rows, paired, refined. Sliding and filler runs go by the
// hashes even when rows match within a threshold: rows of one hash are the
// same, so moving a match along them keeps every pair matched.
template <class RowsMatch>
bool find_segments(AlignmentRecord& record, RowsMatch& rows_match, std::span<const u64> a, std::span<const u64> b,
                   u64 budget) {
    auto script = shortest_edit_script(a.size(), b.size(), rows_match, budget);
    if (!script) return false;
    std::vector<RowSegment> runs = edit_runs(script->operations);
    script->operations = {};
    slide_over_uniform_rows(runs, a, b);
    record.segments = pair_edits(runs);
    record.refined_segments = refine_segments(record.segments, a, b, [&](u64 x, u64 y) { return rows_match(x, y); });
    record.edit_distance = script->distance;
    return true;
}

}  // namespace

Result<AlignmentRecord> align_rows(const CanvasView& pair, const DiffOptions& options, double max_edit_ratio,
                                   u64 max_edit_rows, std::optional<double> row_threshold) {
    if (auto ranges = check_ranges(options, max_edit_ratio, row_threshold); !ranges) return std::move(ranges).error();
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
    bool found = false;
    if (row_threshold) {
        ThresholdRowMatch rows_match(pair, a, b, *row_threshold);
        found = find_segments(record, rows_match, a, b, budget);
    } else {
        ExactRowMatch rows_match{a, b};
        found = find_segments(record, rows_match, a, b, budget);
    }
    if (!found) return record;

    record.row_threshold = row_threshold;
    record.bands = shift_bands(record.refined_segments);
    if (auto counted = count_rows(record, pair, options, a, b); !counted) return std::move(counted).error();
    record.pair_fingerprint = pair_fingerprint(a, b);
    record.fingerprint = alignment_fingerprint(record.pair_fingerprint, row_threshold);
    record.aligned = true;
    return record;
}

}  // namespace quorvane
