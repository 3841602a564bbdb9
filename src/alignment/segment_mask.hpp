// The change mask of one paired segment, judged with a row of context above
// and below so that its edge rows get a fair anti-aliasing test.
#pragma once

#include "alignment/record.hpp"
#include "core/image_pair.hpp"
#include "core/options.hpp"
#include "core/result.hpp"

namespace quorvane {

// W x len bytes, 1 where baseline row baseline_start + i and current row
// current_start + i differ by a Changed pixel. The context rows, taken where
// both images have one, feed the anti-aliasing test only and are never
// marked. The segment must lie inside both images' own rows.
Result<Bytes> segment_change_mask(const PairView& pair, const RowSegment& segment, const DiffOptions& options);

}  // namespace quorvane
