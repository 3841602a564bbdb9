// The clustering parameters that clusters and aligned_clusters share, and
// the ClusterOptions built from them.
#pragma once

#include "bindings/params.hpp"
#include "clusters/cluster_types.hpp"

namespace quorvane::py {

inline constexpr Param kMinPixels = count_param("min_pixels", ClusterOptions{}.min_pixels);
inline constexpr Param kMinSide = count_param("min_side", ClusterOptions{}.min_side);
inline constexpr Param kDilation = count_param("dilation", ClusterOptions{}.dilation);
inline constexpr Param kMaxClusters = optional_count_param("max_clusters");
inline constexpr Param kMergeGap = count_param("merge_gap", ClusterOptions{}.merge_gap);
// Any float: it only changes the merge tests, so it is not range-checked.
inline constexpr Param kMergeOverlap = real_param("merge_overlap", ClusterOptions{}.merge_overlap);

inline ClusterOptions cluster_options(const Args& args) {
    ClusterOptions options;
    options.max_clusters = args.optional_count(kMaxClusters.name);
    options.min_pixels = args.count(kMinPixels.name);
    options.min_side = args.count(kMinSide.name);
    options.dilation = args.count(kDilation.name);
    options.merge_gap = args.count(kMergeGap.name);
    options.merge_overlap = args.real(kMergeOverlap.name);
    return options;
}

}  // namespace quorvane::py
