// SSIM over the rows that an alignment pairs, so that content moved by
// inserted or deleted rows scores as what it is: unchanged.
#pragma once

#include <functional>

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/result.hpp"

namespace quorvane {

// The score of the two canvases as they stand, for an alignment that pairs
// every row with itself.
using CanvasSsim = std::function<Result<double>()>;

// The alignment is checked against the pair first. The equal and replace
// rows of each image are stacked in segment order and scored as two ordinary
// images; 1.0 when no row is paired. When every row is paired with itself
// the stacks are the canvases, and `canvas_ssim` gives their score.
Result<double> aligned_ssim(const CanvasView& pair, u64 pair_fingerprint, const AlignmentRecord& record,
                            const CanvasSsim& canvas_ssim);

}  // namespace quorvane
