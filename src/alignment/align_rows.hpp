// Row alignment of a pair: which rows match, which were inserted or deleted
// (a vertical shift) and which changed in place.
#pragma once

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/options.hpp"
#include "core/result.hpp"

namespace quorvane {

// Rows match by exact equality of their row hashes; threshold and include_aa
// only measure the changed rows (residual_count). A pair of two widths, or
// one that needs more row edits than min(max_edit_rows, ceil(max_edit_ratio
// * (N + M))), gives a record that is not aligned.
Result<AlignmentRecord> align_rows(const CanvasView& pair, const DiffOptions& options, double max_edit_ratio,
                                   u64 max_edit_rows);

}  // namespace quorvane
