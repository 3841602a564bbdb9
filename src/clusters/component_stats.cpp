#include "clusters/component_stats.hpp"

#include <algorithm>

#include "clusters/mask_scan.hpp"

namespace quorvane {
namespace {

// The position of each label's component in root-label order.
std::vector<u32> component_indices(LabelForest& forest, u64& components) {
    std::vector<u32> index(forest.size(), 0);
    components = 0;
    for (u64 label = 1; label < forest.size(); ++label) {
        if (forest.find(static_cast<u32>(label)) == label) index[label] = static_cast<u32>(components++);
    }
    for (u64 label = 1; label < forest.size(); ++label) {
        index[label] = index[forest.find(static_cast<u32>(label))];
    }
    return index;
}

// Calls add(y, start, end, label) for every run of marked pixels of `mask`.
template <class Add>
void for_each_run(ByteView mask, const LabelMap& labels, u64 width, u64 height, Add&& add) {
    for (u64 y = 0; y < height; ++y) {
        const u8* row = mask.data() + y * width;
        u64 start = next_marked(row, 0, width);
        while (start < width) {
            const u64 end = run_end(row, start, width);
            add(y, start, end, labels[y * width + start]);
            start = next_marked(row, end, width);
        }
    }
}

}  // namespace

std::vector<ComponentStats> component_statistics(ByteView mask, ByteView changed_mask, ComponentLabels& labels,
                                                 u64 width, u64 height) {
    u64 components = 0;
    const std::vector<u32> index = component_indices(labels.forest, components);
    std::vector<ComponentStats> stats(components);
    // A run of marked pixels in a row is one component (each pixel meets its
    // left neighbour), so it is added in one step.
    for_each_run(mask, labels.labels, width, height, [&](u64 y, u64 start, u64 end, u32 label) {
        const u64 length = end - start;
        ComponentStats& entry = stats[index[label]];
        entry.count += length;
        entry.sum_x += (start + end - 1) * length / 2;  // one of the two factors is even
        entry.sum_y += y * length;
        entry.min_x = std::min(entry.min_x, start);
        entry.max_x = std::max(entry.max_x, end - 1);
        entry.min_y = std::min(entry.min_y, y);
        entry.max_y = std::max(entry.max_y, y);
    });
    if (changed_mask.data() == mask.data()) {
        for (ComponentStats& entry : stats) entry.changed = entry.count;
        return stats;
    }
    // Dilation only adds pixels, so a changed run lies inside one dilated run.
    for_each_run(changed_mask, labels.labels, width, height,
                 [&](u64, u64 start, u64 end, u32 label) { stats[index[label]].changed += end - start; });
    return stats;
}

}  // namespace quorvane
