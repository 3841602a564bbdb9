// SSIM over the rows that an alignment pairs, so that content moved by
// inserted or deleted rows scores as what it is: unchanged.
#pragma once

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/result.hpp"

namespace quorvane {

// The alignment is checked against the pair first. The equal and replace
// rows of each image are stacked in segment order and scored as two ordinary
// images; 1.0 when no row is paired.
Result<double> aligned_ssim(const CanvasView& pair, u64 pair_fingerprint, const AlignmentRecord& record);

}  // namespace quorvane
