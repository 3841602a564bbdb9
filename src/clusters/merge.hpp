// Greedy merging of clusters whose boxes intersect or lie close together
// with enough overlap in the other direction.
#pragma once

#include <vector>

#include "clusters/cluster_types.hpp"

namespace quorvane {

// Whether `b` merges into `a`: the boxes intersect, or they overlap by at
// least `overlap` of the narrower one in one direction and are at most `gap`
// apart in the other. A NaN overlap leaves only intersecting boxes to merge.
bool clusters_merge(const ClusterRecord& a, const ClusterRecord& b, u64 gap, double overlap);

// `a` grows to cover `b`: the union box, the count-weighted centroid, the
// summed counts (pixels, changed pixels, components).
void merge_into(ClusterRecord& a, const ClusterRecord& b);

// Passes over the list until one merges nothing; in a pass each entry in turn
// absorbs every later entry that merges with it as it grows, in list order.
// The survivors keep their order. A pass looks only at the entries near each
// growing box (a grid over the boxes), so its cost follows the number of
// boxes and of the neighbours each one meets, not the square of the count.
void merge_clusters(std::vector<ClusterRecord>& clusters, u64 gap, double overlap);

}  // namespace quorvane
