// The shift-aware diff image: the current image faded to grey, rows changed
// in place drawn as ordinary diff strips, shifted rows marked as bands.
#pragma once

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/options.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// An opaque RGBA image in current-image coordinates: the common width by the
// current image's own height, the pair's ignore regions drawn over it. The
// alignment is checked against the pair first, then the option ranges.
Result<Image> render_aligned_diff(const CanvasView& pair, u64 pair_fingerprint, const AlignmentRecord& record,
                                  const DiffOptions& options);

}  // namespace quorvane
