// The check that ties an alignment to the pair a shift-aware method runs on.
#pragma once

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/result.hpp"

namespace quorvane {

// NotAligned when the alignment failed; ForeignAlignment when its width,
// either height or fingerprint is not this pair's. Only sizes and row
// content count, so a pair rebuilt from the same images passes.
Status check_alignment_belongs_to_pair(const AlignmentRecord& record, const CanvasView& pair, u64 pair_fingerprint);

}  // namespace quorvane
