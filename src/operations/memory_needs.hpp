// What each operation on a pair needs at its peak, in bytes: the pair held
// on its canvas, and the working buffers of what was asked. Every entry
// checks its need against the call's budget before it allocates.
#pragma once

#include <optional>

#include "clusters/cluster_types.hpp"
#include "core/image_pair.hpp"
#include "core/memory_budget.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "image_utils/thumbnail.hpp"

namespace quorvane {

// Building the pair: both images decoded (or copied) at their own sizes, and
// the padded copy of each that is not already canvas-sized.
u64 pair_build_bytes(const PairSizes& sizes);
// The pair once built: both canvases, and the current image at its own size
// when it was widened.
u64 pair_held_bytes(const PairSizes& sizes);

// The working buffers of one operation, beside the pair held.
// The classified rows a whole count keeps for the calls after it, at most.
u64 change_blocks_bytes(Size canvas);
u64 ssim_work_bytes(u64 width);
u64 diff_png_work_bytes(Size canvas);
u64 diff_png_and_thumbnail_work_bytes(Size canvas, const ThumbnailOptions& thumbnail);
u64 thumbnail_work_bytes(Size source, const ThumbnailOptions& options);
// Up to labelling; the records of the components are asked for once their
// number is known (cluster_records_bytes).
u64 clusters_work_bytes(Size canvas, const ClusterOptions& options);
u64 cluster_records_bytes(u64 labels, Size canvas, const ClusterOptions& options);
u64 alignment_work_bytes(const PairSizes& sizes, u64 max_edit_rows);
// Aligned SSIM points at the matched rows of both images.
u64 aligned_ssim_work_bytes(Size canvas);
// A shift-aware diff image needs the change masks of the replaced rows
// beside what drawing and encoding it (`image_work`) takes.
u64 aligned_diff_work_bytes(Size canvas, u64 image_work);
// A thumbnail of `shown`, cut out of the canvas first when `copied`.
u64 cut_thumbnail_work_bytes(Size shown, bool copied, const ThumbnailOptions& options);

// The peak of working through a pair one call at a time with the default
// options: building it, then the costliest analysis.
u64 pair_memory_needed(const PairSizes& sizes);

// A call that builds the pair, then works on it with `work` bytes beside it.
u64 pair_call_bytes(const PairSizes& sizes, u64 work);

// The budget's refusal of a call on the pair needing `work` bytes beside it.
std::optional<CompareError> refusal(const ImagePair& pair, u64 work);

}  // namespace quorvane
