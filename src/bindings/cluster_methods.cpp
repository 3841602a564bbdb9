// Comparison.clusters: the change mask of the pair grouped into clusters.
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/cluster_params.hpp"
#include "bindings/cluster_records.hpp"
#include "bindings/comparison.hpp"
#include "bindings/registry.hpp"
#include "clusters/extract.hpp"
#include "pixel_diff/mask.hpp"

namespace quorvane::py {
namespace {

constexpr Param kClustersParams[] = {kThreshold, kIncludeAa,   kMinPixels, kMinSide,
                                     kDilation,  kMaxClusters, kMergeGap,  kMergeOverlap};

Result<ClusterList> cluster_pair(const ImagePair& pair, const DiffOptions& diff, const ClusterOptions& options) {
    auto mask = build_diff_mask(pair.baseline, pair.current, pair.width, pair.height, diff);
    if (!mask) return std::move(mask).error();
    if (mask->count == 0) return ClusterList{};  // nothing changed: nothing to dilate or label
    return extract_clusters(mask->mask, mask->width, mask->height, options);
}

PyObject* clusters(ComparisonObject& self, Args& args) {
    const DiffOptions diff = args.diff_options();
    const ClusterOptions options = cluster_options(args);
    auto list = without_gil([&] { return cluster_pair(*self.pair, diff, options); });
    return deliver(std::move(list), [](ClusterList value) { return clusters_to_python(std::move(value)); });
}

constexpr Method kClusters{"clusters", "Compute connected-component clusters of differing pixels.", kClustersParams,
                           clusters};

}  // namespace

void add_cluster_methods(std::vector<PyMethodDef>& methods) { methods.push_back(describe<kClusters>()); }

}  // namespace quorvane::py
