#include "clusters/merge.hpp"

#include <algorithm>

namespace quorvane {
namespace {

// The length of [a_start, a_start + a_length) ∩ [b_start, b_start + b_length)
// over the shorter length; 0.0 when they do not intersect.
double overlap_fraction(u64 a_start, u64 a_length, u64 b_start, u64 b_length) {
    const u64 low = std::max(a_start, b_start);
    const u64 high = std::min(a_start + a_length, b_start + b_length);
    if (high <= low) return 0.0;
    return static_cast<double>(high - low) / static_cast<double>(std::min(a_length, b_length));
}

// The empty stretch between two ranges, 0 when they touch or overlap.
u64 gap_between(u64 a_start, u64 a_length, u64 b_start, u64 b_length) {
    if (b_start >= a_start + a_length) return b_start - (a_start + a_length);
    if (a_start >= b_start + b_length) return a_start - (b_start + b_length);
    return 0;
}

}  // namespace

bool clusters_merge(const ClusterRecord& a, const ClusterRecord& b, u64 gap, double overlap) {
    const double columns_overlap = overlap_fraction(a.x, a.width, b.x, b.width);
    const double rows_overlap = overlap_fraction(a.y, a.height, b.y, b.height);
    if (columns_overlap > 0.0 && rows_overlap > 0.0) return true;
    if (columns_overlap >= overlap && gap_between(a.y, a.height, b.y, b.height) <= gap) return true;
    return rows_overlap >= overlap && gap_between(a.x, a.width, b.x, b.width) <= gap;
}

void merge_into(ClusterRecord& a, const ClusterRecord& b) {
    const u64 x = std::min(a.x, b.x);
    const u64 y = std::min(a.y, b.y);
    const u64 right = std::max(a.x + a.width, b.x + b.width);
    const u64 bottom = std::max(a.y + a.height, b.y + b.height);
    const auto a_count = static_cast<double>(a.pixel_count);
    const auto b_count = static_cast<double>(b.pixel_count);
    const auto total = static_cast<double>(a.pixel_count + b.pixel_count);
    a.centroid_x = (b.centroid_x * b_count + a.centroid_x * a_count) / total;
    a.centroid_y = (b.centroid_y * b_count + a.centroid_y * a_count) / total;
    a.x = x;
    a.y = y;
    a.width = right - x;
    a.height = bottom - y;
    a.pixel_count += b.pixel_count;
    a.merged_from += b.merged_from;
}

void merge_clusters(std::vector<ClusterRecord>& clusters, u64 gap, double overlap) {
    bool merged = true;
    while (merged) {
        merged = false;
        for (std::size_t i = 0; i + 1 < clusters.size(); ++i) {
            std::size_t j = i + 1;
            while (j < clusters.size()) {
                if (clusters_merge(clusters[i], clusters[j], gap, overlap)) {
                    merge_into(clusters[i], clusters[j]);
                    clusters.erase(clusters.begin() + static_cast<std::ptrdiff_t>(j));
                    merged = true;
                } else {
                    ++j;
                }
            }
        }
    }
}

}  // namespace quorvane
