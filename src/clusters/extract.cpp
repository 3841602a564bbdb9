#include "clusters/extract.hpp"

#include <algorithm>
#include <vector>

#include "clusters/component_stats.hpp"
#include "clusters/dilate.hpp"
#include "clusters/label.hpp"
#include "clusters/merge.hpp"
#include "core/checked.hpp"

namespace quorvane {
namespace {

// The components that pass the size filters, in root-label order. Counts are
// of dilated pixels, so with dilation even one changed pixel passes the
// default minimum.
std::vector<ClusterRecord> candidates(const std::vector<ComponentStats>& components, const ClusterOptions& options) {
    std::vector<ClusterRecord> kept;
    for (const ComponentStats& component : components) {
        if (component.count < options.min_pixels) continue;
        ClusterRecord cluster;
        cluster.x = component.min_x;
        cluster.y = component.min_y;
        cluster.width = component.max_x - component.min_x + 1;
        cluster.height = component.max_y - component.min_y + 1;
        if (options.min_side != 0 && std::min(cluster.width, cluster.height) < options.min_side) continue;
        const auto count = static_cast<double>(component.count);
        cluster.centroid_x = static_cast<double>(component.sum_x) / count;
        cluster.centroid_y = static_cast<double>(component.sum_y) / count;
        cluster.pixel_count = component.count;
        cluster.changed_pixels = component.changed;
        cluster.merged_from = 1;
        kept.push_back(cluster);
    }
    return kept;
}

// Largest first; equal counts keep their order.
void sort_by_size(std::vector<ClusterRecord>& clusters) {
    std::stable_sort(clusters.begin(), clusters.end(),
                     [](const ClusterRecord& a, const ClusterRecord& b) { return a.pixel_count > b.pixel_count; });
}

// The statistics of the components; the dilated mask and the label map are
// freed before the clusters are ranked.
Result<std::vector<ComponentStats>> measure_components(ByteView changed, u64 width, u64 height, u64 dilation,
                                                       const AdmitLabels& admit) {
    Bytes dilated;
    ByteView mask = changed;
    if (dilation != 0) {
        dilated = dilate_square(changed, width, height, dilation);
        mask = dilated;
    }
    auto labels = label_components(mask, width, height);
    if (!labels) return std::move(labels).error();
    if (admit) {
        if (auto admitted = admit(labels->forest.size()); !admitted) return std::move(admitted).error();
    }
    return component_statistics(mask, changed, *labels, width, height);
}

}  // namespace

Result<ClusterList> extract_clusters(ByteView mask, u64 width, u64 height, const ClusterOptions& options,
                                     const AdmitLabels& admit) {
    const auto pixels = checked_mul(width, height);
    if (!pixels || *pixels != mask.size()) throw Panic("cluster mask length does not match its dimensions");
    ClusterList result;
    if (width == 0 || height == 0) return result;

    auto components = measure_components(mask, width, height, options.dilation, admit);
    if (!components) return std::move(components).error();
    result.clusters = candidates(*components, options);
    result.total_clusters = result.clusters.size();
    sort_by_size(result.clusters);

    if (options.max_clusters) {
        result.truncated = result.total_clusters > *options.max_clusters;
        if (result.truncated) result.clusters.resize(*options.max_clusters);
    }
    // Truncation comes first, so merging only ever sees the clusters kept.
    if (options.merge_gap != 0 && !result.clusters.empty()) {
        merge_clusters(result.clusters, options.merge_gap, options.merge_overlap);
        if (result.clusters.size() >= 2) sort_by_size(result.clusters);
    }
    return result;
}

}  // namespace quorvane
