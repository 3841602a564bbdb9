// Clusters of the content that changed in place between two images that
// also differ by a vertical shift, in current-image rows.
#pragma once

#include "alignment/record.hpp"
#include "clusters/cluster_types.hpp"
#include "clusters/extract.hpp"
#include "core/image_pair.hpp"
#include "core/options.hpp"
#include "core/result.hpp"

namespace quorvane {

// The option ranges are checked first, then the alignment against the pair.
// Only rows changed in place can mark a pixel: replace rows, and matched rows
// that differ (an alignment within a row threshold); shifted rows are the
// bands' business, not a change.
Result<ClusterList> aligned_clusters(const CanvasView& pair, u64 pair_fingerprint, const AlignmentRecord& record,
                                     const DiffOptions& diff_options, const ClusterOptions& cluster_options,
                                     const AdmitLabels& admit = {});

}  // namespace quorvane
