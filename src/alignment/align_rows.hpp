// Row alignment of a pair: which rows match, which were inserted or deleted
// (a vertical shift) and which changed in place.
#pragma once

#include <optional>
#include <string_view>

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/options.hpp"
#include "core/result.hpp"

namespace quorvane {

inline constexpr std::string_view kRowThresholdRangeText = "row_threshold must be in the range [0.0, 1.0]";

// Without a row threshold, rows match by exact equality of their row hashes;
// with one, when every pixel pair is within it (ThresholdRowMatch), and the
// matched rows that differ count as changed in place. threshold and
// include_aa only measure the changed rows (residual_count). A pair of two
// widths, or one that needs more row edits than min(max_edit_rows,
// ceil(max_edit_ratio * (N + M))), gives a record that is not aligned.
Result<AlignmentRecord> align_rows(const CanvasView& pair, const DiffOptions& options, double max_edit_ratio,
                                   u64 max_edit_rows, std::optional<double> row_threshold = std::nullopt);

}  // namespace quorvane
