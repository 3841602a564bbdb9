// Comparison.clusters: the change mask of the pair grouped into clusters.
#include <vector>

#include "bindings/boundary.hpp"
#include "bindings/callable.hpp"
#include "bindings/cluster_params.hpp"
#include "bindings/cluster_records.hpp"
#include "bindings/comparison.hpp"
#include "bindings/registry.hpp"
#include "operations/analyses.hpp"

namespace quorvane::py {
namespace {

constexpr Param kClustersParams[] = {kThreshold, kIncludeAa,   kMinPixels, kMinSide,
                                     kDilation,  kMaxClusters, kMergeGap,  kMergeOverlap};

PyObject* clusters(ComparisonObject& self, Args& args) {
    const DiffOptions diff = args.diff_options();
    const ClusterOptions options = cluster_options(args);
    auto list = without_gil([&] { return pair_clusters(*self.pair, diff, options); });
    return deliver(args.state(), std::move(list),
                   [&](ClusterList value) { return clusters_to_python(args.state(), std::move(value)); });
}

constexpr Method kClusters{"clusters", "Compute connected-component clusters of differing pixels.", kClustersParams,
                           clusters};

}  // namespace

void add_cluster_methods(std::vector<PyMethodDef>& methods) { methods.push_back(describe<kClusters>()); }

}  // namespace quorvane::py
