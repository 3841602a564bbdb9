// From a change mask to the final cluster list: dilation, labelling,
// statistics, size filters, ordering, truncation and merging.
#pragma once

#include <functional>

#include "clusters/cluster_types.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace quorvane {

// Asked once the labels are counted, before the components' records are
// allocated: an error it returns ends the extraction.
using AdmitLabels = std::function<Status(u64 labels)>;

// `mask` holds width * height bytes, row-major, 1 for a changed pixel; any
// other length is a caller fault. Runs on the calling thread. Fails only when
// the mask needs more than 2^32 - 1 component labels, or `admit` refuses.
Result<ClusterList> extract_clusters(ByteView mask, u64 width, u64 height, const ClusterOptions& options,
                                     const AdmitLabels& admit = {});

}  // namespace quorvane
