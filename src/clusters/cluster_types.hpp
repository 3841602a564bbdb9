// The clustering parameters, one cluster as plain data, and the list that
// extract_clusters hands back.
#pragma once

#include <optional>
#include <vector>

#include "core/types.hpp"

namespace quorvane {

struct ClusterOptions {
    std::optional<u64> max_clusters;  // keep at most this many, largest first
    u64 min_pixels = 16;              // drop components with fewer (dilated) pixels
    u64 min_side = 0;                 // drop components whose shorter side is below this; 0 keeps all
    u64 dilation = 4;                 // radius of the square grown around each changed pixel; 0 grows none
    u64 merge_gap = 0;                // largest gap two boxes may merge across; 0 merges nothing
    double merge_overlap = 0.5;       // smallest overlap fraction for a merge across a gap; any value
};

// Coordinates in pixels, origin top left; the box is [x, x + width) by
// [y, y + height).
struct ClusterRecord {
    u64 x = 0;
    u64 y = 0;
    u64 width = 0;
    u64 height = 0;
    double centroid_x = 0.0;
    double centroid_y = 0.0;
    u64 pixel_count = 0;     // dilated pixels
    u64 merged_from = 1;     // components merged into this cluster
    u64 changed_pixels = 0;  // pixels of the change mask in its components, before dilation
};

struct ClusterList {
    std::vector<ClusterRecord> clusters;  // largest pixel_count first
    u64 total_clusters = 0;               // components that passed the size filters, before truncation and merging
    bool truncated = false;               // max_clusters was given and total_clusters exceeded it
};

}  // namespace quorvane
