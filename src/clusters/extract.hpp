// From a change mask to the final cluster list: dilation, labelling,
// statistics, size filters, ordering, truncation and merging.
#pragma once

#include "clusters/cluster_types.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// `mask` holds width * height bytes, row-major, 1 for a changed pixel; any
// other length is a caller fault. Runs on the calling thread. Fails only when
// the mask needs more than 2^32 - 1 component labels.
Result<ClusterList> extract_clusters(ByteView mask, u64 width, u64 height, const ClusterOptions& options);

}  // namespace quorvane
